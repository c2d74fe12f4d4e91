// A task's conditions in the store: through add, edit and delete, a restart, and a backup
// made and restored with ferrydesk-reg.

#include "settings_helpers.h"

namespace ferry {
namespace {

class TaskConditionsStoreTest : public RegistrySandboxTest {
protected:
    void SetUp() override { InitialiseDefaults(); }

    static void Save(const TaskTable& t) {
        const TaskSnapshot s = t.Snapshot();
        SaveTaskEntries(s.Count, s);
    }

    static TaskTable Load() {
        TaskTable t;
        TStartupLoad state;
        LoadStartupSettings(t, state);
        EXPECT_TRUE(state.Completed);
        return t;
    }

    static std::vector<std::string> NamesOf(const std::string& path) {
        std::vector<std::string> names;
        for (const StoredValue& v : ValuesOf(path))
            names.push_back(v.Name);
        return names;
    }
};

const std::vector<std::string> kPlainNames = {"Identifier", "Source", "Destination", "MatchString"};

TaskRecord WithConditions(const std::string& n) {
    TaskRecord t = Task(n);
    t.Conditions.Kind = MatchKind::AllWords;
    t.Conditions.ExcludeString = "REMINDER \"final notice\"";
    t.Conditions.NamePattern = "*.pdf;scan-??.png";
    t.Conditions.MinAgeMinutes = 5;
    t.Conditions.LookIn = 2;
    return t;
}

TEST_F(TaskConditionsStoreTest, ValuesTravelWithTheirTaskAndLeaveNoneBehind) {
    TaskTable t;
    t.AppendTask(Task("one"));
    t.AppendTask(WithConditions("two"));
    t.AppendTask(Task("three"));
    Save(t);
    EXPECT_EQ(NamesOf(TaskEntryPath(1)), kPlainNames);
    EXPECT_EQ(NamesOf(TaskEntryPath(3)), kPlainNames);
    EXPECT_EQ(ValuesOf(TaskEntryPath(2)),
              (std::vector<StoredValue>{{"Identifier", REG_SZ, Sz("two")},
                                        {"Source", REG_SZ, Sz("/src/two")},
                                        {"Destination", REG_SZ, Sz("/dst/two")},
                                        {"MatchString", REG_SZ, Sz("match two")},
                                        {"MatchKind", REG_DWORD, Dword(2)},
                                        {"ExcludeString", REG_SZ, Sz("REMINDER \"final notice\"")},
                                        {"NamePattern", REG_SZ, Sz("*.pdf;scan-??.png")},
                                        {"MinAgeMinutes", REG_DWORD, Dword(5)},
                                        {"LookIn", REG_DWORD, Dword(2)}}));
    EXPECT_EQ(Load().Snapshot(), t.Snapshot()); // a restart keeps them

    // An edit that sets a value back to its default removes it; an unknown kind is kept.
    TaskRecord edited = WithConditions("two");
    edited.Conditions.ExcludeString.clear();
    edited.Conditions.MinAgeMinutes = 0;
    edited.Conditions.Kind = static_cast<MatchKind>(9);
    t.ReplaceTask(2, edited);
    Save(t);
    EXPECT_EQ(NamesOf(TaskEntryPath(2)),
              (std::vector<std::string>{"Identifier", "Source", "Destination", "MatchString",
                                        "MatchKind", "NamePattern", "LookIn"}));
    EXPECT_EQ(Load().TaskAt(2), edited);

    // Deleting the first moves the task up with its values; the plain task that takes its
    // old entry keeps none of them.
    t.DeleteTask(1);
    Save(t);
    EXPECT_EQ(Load().TaskAt(1), edited);
    EXPECT_EQ(NamesOf(TaskEntryPath(2)), kPlainNames);
    EXPECT_EQ(Load().TaskAt(2), Task("three"));
    const TaskSnapshot saved = t.Snapshot();

    // A backup made with the tool and restored into an empty store gives the same table.
    const std::string file = Sandbox.Dir() + "/backup.reg";
    std::string out;
    ASSERT_EQ(Sandbox.RegTool({"export", "HKLM\\SOFTWARE", file}, &out), 0) << out;
    RegistrySandbox restored;
    ASSERT_EQ(restored.RegTool({"import", file}, &out), 0) << out;
    EXPECT_EQ(Load().Snapshot(), saved);
}

TEST_F(TaskConditionsStoreTest, OcrLanguagesAbsentReadsEmpty) {
    EXPECT_EQ(ReadOcrLanguages(), "");
    ByHand(Sandbox, {"add", kToolKey, "/v", "OcrLanguages", "/t", "REG_SZ", "/d", "eng+deu", "/f"});
    EXPECT_EQ(ReadOcrLanguages(), "eng+deu");
}

} // namespace
} // namespace ferry
