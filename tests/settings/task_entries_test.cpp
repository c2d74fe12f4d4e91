#include "settings_helpers.h"

namespace ferry {
namespace {

class TaskEntriesTest : public RegistrySandboxTest {
protected:
    void SetUp() override { InitialiseDefaults(); }

    TaskTable Load(TStartupLoad& state) {
        TaskTable t;
        LoadStartupSettings(t, state);
        return t;
    }

    void Save(const TaskTable& t) {
        TaskSnapshot s = t.Snapshot();
        SaveTaskEntries(s.Count, s);
    }
};

TEST_F(TaskEntriesTest, DeleteLeavesTheOldLastEntryBehindAndIgnored) {
    TaskTable t;
    for (const char* n : {"one", "two", "three"})
        t.AppendTask(Task(n));
    Save(t);
    EXPECT_EQ(ValuesOf(SettingsKey)[0], (StoredValue{"NumberOfEntries", REG_DWORD, Dword(3)}));
    std::vector<StoredValue> entry2 = {{"Identifier", REG_SZ, Sz("two")},
                                       {"Source", REG_SZ, Sz("/src/two")},
                                       {"Destination", REG_SZ, Sz("/dst/two")},
                                       {"MatchString", REG_SZ, Sz("match two")}};
    EXPECT_EQ(ValuesOf(TaskEntryPath(2)), entry2);

    t.DeleteTask(1);
    Save(t);
    EXPECT_EQ(ValuesOf(SettingsKey)[0], (StoredValue{"NumberOfEntries", REG_DWORD, Dword(2)}));
    EXPECT_EQ(ValuesOf(TaskEntryPath(1)), entry2);
    EXPECT_EQ(ValuesOf(TaskEntryPath(2))[0].Data, Sz("three"));
    EXPECT_EQ(ValuesOf(TaskEntryPath(3))[0].Data, Sz("three"));

    TStartupLoad s;
    TaskTable loaded = Load(s);
    EXPECT_TRUE(s.Completed);
    EXPECT_EQ(s.RowsLoaded, 2);
    EXPECT_EQ(loaded.RowCount(), 4);
    EXPECT_EQ(loaded.TaskAt(1), Task("two"));
    EXPECT_EQ(loaded.TaskAt(2), Task("three"));
    EXPECT_EQ(loaded.TaskAt(3), TaskRecord{});
}

TEST_F(TaskEntriesTest, CountAboveTheEntriesLoadsEmptyRowsAndCreatesTheirKeys) {
    WriteTaskEntry(TaskEntryPath(1), "one", "/src/one", "match one", "/dst/one");
    ByHand(Sandbox, {"add", kToolKey, "/v", "NumberOfEntries", "/t", "REG_DWORD", "/d", "2", "/f"});
    ASSERT_FALSE(KeyExists(TaskEntryPath(2)));
    TStartupLoad s;
    TaskTable t = Load(s);
    EXPECT_TRUE(s.Completed);
    EXPECT_EQ(t.RowCount(), 4);
    EXPECT_EQ(t.TaskAt(1), Task("one"));
    EXPECT_EQ(t.TaskAt(2), TaskRecord{});
    EXPECT_FALSE(t.IsTaskRow(2));
    EXPECT_TRUE(KeyExists(TaskEntryPath(2)));
    EXPECT_TRUE(ValuesOf(TaskEntryPath(2)).empty());

    // Saved back, the empty row keeps its place as an entry of empty values.
    ASSERT_TRUE(SaveTaskTable(t, s));
    EXPECT_EQ(ValuesOf(SettingsKey)[0].Data, Dword(2));
    EXPECT_EQ(ValuesOf(TaskEntryPath(2)),
              (std::vector<StoredValue>{{"Identifier", REG_SZ, Sz("")},
                                        {"Source", REG_SZ, Sz("")},
                                        {"Destination", REG_SZ, Sz("")},
                                        {"MatchString", REG_SZ, Sz("")}}));
    EXPECT_FALSE(KeyExists(TaskEntryPath(3)));
}

TEST_F(TaskEntriesTest, EmptyTableSavesZeroAndNoEntry) {
    TaskTable t;
    Save(t);
    EXPECT_EQ(ValuesOf(SettingsKey)[0], (StoredValue{"NumberOfEntries", REG_DWORD, Dword(0)}));
    EXPECT_TRUE(SubkeysOf(SettingsKey).empty());
    // Zero or less loads nothing.
    ByHand(Sandbox,
           {"add", kToolKey, "/v", "NumberOfEntries", "/t", "REG_DWORD", "/d", "0xFFFFFFFF", "/f"});
    TStartupLoad s;
    EXPECT_EQ(Load(s).RowCount(), 2);
    EXPECT_TRUE(s.Completed);
    EXPECT_TRUE(SubkeysOf(SettingsKey).empty());
}

TEST_F(TaskEntriesTest, LoadThatFailsPartWayIsNeverSavedBack) {
    TaskTable t;
    for (const char* n : {"one", "two", "three"})
        t.AppendTask(Task(n));
    Save(t);
    ByHand(Sandbox,
           {"add", kToolKey + "\\Entry2", "/v", "Source", "/t", "REG_DWORD", "/d", "7", "/f"});
    TStartupLoad s;
    TaskTable partial;
    EXPECT_EQ(RegistryErrorOf([&] { LoadStartupSettings(partial, s); }),
              "Invalid data type for 'Source'");
    EXPECT_EQ(s.RowsLoaded, 1);
    EXPECT_FALSE(s.Completed);
    EXPECT_EQ(partial.TaskAt(1), Task("one"));
    EXPECT_FALSE(SaveTaskTable(partial, s));
    EXPECT_EQ(ValuesOf(SettingsKey)[0].Data, Dword(3));
    EXPECT_EQ(ValuesOf(TaskEntryPath(3))[0].Data, Sz("three"));
}

// A count set by hand far above what the table holds must not make the start create a
// subkey for every number up to it.
TEST_F(TaskEntriesTest, HugeCountStopsAtTheTableCapacity) {
    ByHand(Sandbox,
           {"add", kToolKey, "/v", "NumberOfEntries", "/t", "REG_DWORD", "/d", "2000000000", "/f"});
    WriteTaskEntry(TaskEntryPath(1), "one", "/src/one", "match one", "/dst/one");
    TStartupLoad s;
    TaskTable t;
    EXPECT_EQ(RegistryErrorOf([&] { LoadStartupSettings(t, s); }),
              "Failed to get data for 'NumberOfEntries'");
    EXPECT_EQ(s.RowsLoaded, MaxTaskEntries);
    EXPECT_FALSE(s.Completed);
    EXPECT_EQ(t.TaskAt(1), Task("one"));
    EXPECT_TRUE(KeyExists(TaskEntryPath(MaxTaskEntries)));
    EXPECT_FALSE(KeyExists(TaskEntryPath(MaxTaskEntries + 1)));
}

TEST_F(TaskEntriesTest, EntryValuesAreWrittenInOrderWhateverTheArgumentOrder) {
    WriteTaskEntry(TaskEntryPath(7), "id", "src", "match", "dst");
    std::vector<StoredValue> expected = {{"Identifier", REG_SZ, Sz("id")},
                                         {"Source", REG_SZ, Sz("src")},
                                         {"Destination", REG_SZ, Sz("dst")},
                                         {"MatchString", REG_SZ, Sz("match")}};
    EXPECT_EQ(ValuesOf(TaskEntryPath(7)), expected);
    TaskRecord r = ReadTaskEntry(TaskEntryPath(7));
    EXPECT_EQ(r, (TaskRecord{"id", "src", "dst", "match"}));
    // A missing value reads as empty; high bytes survive as they are.
    ByHand(Sandbox, {"delete", kToolKey + "\\Entry7", "/v", "Destination", "/f"});
    WriteTaskEntry(TaskEntryPath(8), "\xe9t\xe9", "a\\b", "\"q\"", "");
    EXPECT_EQ(ReadTaskEntry(TaskEntryPath(7)).Destination, "");
    EXPECT_EQ(ReadTaskEntry(TaskEntryPath(8)), (TaskRecord{"\xe9t\xe9", "a\\b", "", "\"q\""}));
}

} // namespace
} // namespace ferry
