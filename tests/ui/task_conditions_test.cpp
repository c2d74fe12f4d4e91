// The Task Conditions window as a user meets it from the task dialogs: setting conditions,
// having a bad regular expression refused, and Test on a file on real files and documents.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include "ui/frm_add_task.h"
#include "ui/frm_edit_task.h"
#include "ui/frm_task_conditions.h"
#include "ui_fixture.h"

namespace ferry::test {
namespace {

void Click(QPushButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

// Lets Test or Preview end on the window's worker; false when it was still busy.
bool Settle(TFRM_TaskConditions* window, std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (window->Busy() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return !window->Busy();
}

std::vector<std::pair<std::string, std::string>> Rows(QTreeWidget* list) {
    std::vector<std::pair<std::string, std::string>> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows.emplace_back(list->topLevelItem(i)->text(0).toStdString(),
                          list->topLevelItem(i)->text(1).toStdString());
    return rows;
}

void SetConditions(TFRM_TaskConditions* w, MatchKind kind, const char* match, const char* exclude,
                   const char* names, int minutes, uint32_t lookIn) {
    w->CMB_MatchKind->setCurrentIndex(static_cast<int>(kind));
    w->TXT_MatchString->setText(QString::fromUtf8(match));
    w->TXT_ExcludeString->setText(QString::fromUtf8(exclude));
    w->TXT_NamePattern->setText(QString::fromUtf8(names));
    w->SPN_MinAge->setValue(minutes);
    w->CHK_Documents->setChecked(lookIn != 0);
    w->CHK_Ocr->setChecked(lookIn == 2);
}

using TaskConditionsWindow = ProgramTest;

TEST_F(TaskConditionsWindow, ConditionsSetThereGoBackToTheDialogAndABadPatternIsRefused) {
    StartProgram();
    Click(FRM_TaskList->BTN_AddNewTask);
    ASSERT_TRUE(FRM_AddTask->isVisible());
    // In the free space left of the OK button; nothing the dialog had moves.
    EXPECT_EQ(FRM_AddTask->BTN_Conditions->geometry(), QRect(8, 122, 75, 25));
    EXPECT_EQ(FRM_AddTask->BTN_Conditions->text(), QString::fromUtf8("Con&ditions\u2026"));
    EXPECT_EQ(FRM_AddTask->BTN_AddTask->geometry(), QRect(301, 122, 75, 25));
    EXPECT_EQ(FRM_EditTask->BTN_Conditions->geometry(), QRect(8, 122, 75, 25));
    EXPECT_EQ(FRM_EditTask->BTN_Cancel->geometry(), QRect(383, 123, 74, 25));

    FRM_AddTask->TXT_MatchString->setText(QStringLiteral("invoice"));
    Click(FRM_AddTask->BTN_Conditions);
    TFRM_TaskConditions* w = FRM_AddTask->FRM_TaskConditions;
    ASSERT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Ferrydesk - Task Conditions"));
    EXPECT_EQ(w->TXT_MatchString->text(), QStringLiteral("invoice"));
    EXPECT_EQ(w->CMB_MatchKind->currentIndex(), 0);
    EXPECT_FALSE(w->CHK_Ocr->isEnabled()) << "OCR only for a task that looks inside documents";
    EXPECT_EQ(w->CHK_Documents->text(),
              QStringLiteral("Look inside documents (PDF, Word, OpenDocument, e-mail)"));
    EXPECT_EQ(w->CHK_Ocr->text(), QStringLiteral("Read scanned pages (OCR)"));

    SetConditions(w, MatchKind::Pattern, "ACME-(\\d{4}", "REMINDER \"final notice\"", "*.pdf;*.txt",
                  5, 2);
    EXPECT_TRUE(w->CHK_Ocr->isEnabled());
    Click(w->BTN_OK);
    ASSERT_EQ(Prompts.Messages.size(), 1u);
    EXPECT_EQ(Prompts.Messages[0].Message,
              "The regular expression is not valid: missing ): ACME-(\\d{4}");
    EXPECT_EQ(Prompts.Messages[0].Type, TMsgDlgType::mtError);
    EXPECT_TRUE(w->isVisible()) << "a refused pattern keeps the window open";

    w->TXT_MatchString->setText(QStringLiteral("ACME-(\\d{4})"));
    Click(w->BTN_OK);
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(FRM_AddTask->TXT_MatchString->text(), QStringLiteral("ACME-(\\d{4})"));
    const TaskConditions expected(
        "ACME-(\\d{4})", {MatchKind::Pattern, "REMINDER \"final notice\"", "*.pdf;*.txt", 5, 2});
    EXPECT_EQ(FRM_AddTask->Conditions(), expected);

    // Opened again, the window shows what was accepted; Cancel keeps it.
    Click(FRM_AddTask->BTN_Conditions);
    EXPECT_EQ(w->Conditions(), expected);
    w->CHK_Documents->setChecked(false);
    Click(w->BTN_Cancel);
    EXPECT_EQ(FRM_AddTask->Conditions(), expected);

    // Broken in the dialog itself after the window checked it: refused there too.
    FRM_AddTask->TXT_Identifier->setText(QStringLiteral("Accounts"));
    Prompts.Folders = {"/srv/in", "/srv/out"};
    Click(FRM_AddTask->BTN_AddSource);
    Click(FRM_AddTask->BTN_AddDest);
    FRM_AddTask->TXT_MatchString->setText(QStringLiteral("(a"));
    Click(FRM_AddTask->BTN_AddTask);
    EXPECT_TRUE(FRM_AddTask->isVisible());
    ASSERT_EQ(Prompts.Messages.size(), 2u);
    EXPECT_EQ(Prompts.Messages[1].Message, "The regular expression is not valid: missing ): (a");
    EXPECT_EQ(FRM_TaskList->Table().RowCount(), 2);

    // Taken with the task into the table and the store, and shown again through Edit.
    FRM_AddTask->TXT_MatchString->setText(QStringLiteral("ACME-(\\d{4})"));
    Click(FRM_AddTask->BTN_AddTask);
    ASSERT_FALSE(FRM_AddTask->isVisible());
    const TaskRecord task("Accounts", "/srv/in", "/srv/out", "ACME-(\\d{4})", expected);
    EXPECT_EQ(FRM_TaskList->Table().TaskAt(1), task);
    EXPECT_EQ(StoredTask(1), task);
    Click(FRM_TaskList->BTN_EditTask);
    Click(FRM_EditTask->BTN_Conditions);
    TFRM_TaskConditions* edit = FRM_EditTask->FRM_TaskConditions;
    ASSERT_TRUE(edit->isVisible());
    EXPECT_EQ(edit->Conditions(), expected);
    edit->CMB_MatchKind->setCurrentIndex(static_cast<int>(MatchKind::AllWords));
    edit->TXT_MatchString->setText(QStringLiteral("ACME invoice"));
    edit->CHK_Documents->setChecked(false);
    Click(edit->BTN_OK);
    Click(FRM_EditTask->BTN_AddTask);
    const TaskRecord edited(
        "Accounts", "/srv/in", "/srv/out", "ACME invoice",
        {MatchKind::AllWords, "REMINDER \"final notice\"", "*.pdf;*.txt", 5, 0});
    EXPECT_EQ(FRM_TaskList->Table().TaskAt(1), edited);
    EXPECT_EQ(StoredTask(1), edited);
}

TEST_F(TaskConditionsWindow, TestOnAFileSaysWhetherTheTaskTakesItWhyNotAndWhereItFoundWhat) {
    TempDir files;
    TempDir cache;
    ScopedEnv cacheHome("XDG_CACHE_HOME", cache.Path());
    ScopedEnv helper("FERRYDESK_EXTRACT_HELPER",
                     (std::string(FERRY_BINARY_DIR) + "/bin/ferrydesk-extract").c_str());
    const std::string padding(100, '.');
    files.Write("plain.txt", padding + "Your INVOICE for March\n");
    files.Write("reminder.txt", "INVOICE, second REMINDER\n");
    files.Write("sheet.csv", "INVOICE\n");
    const std::string docx = std::string(FERRY_CORPUS) + "/invoice-match.docx";
    const std::string pdf = std::string(FERRY_CORPUS) + "/invoice-match.pdf";

    struct Case {
        MatchKind Kind;
        const char* Match;
        const char* Exclude;
        const char* Names;
        int Minutes;
        uint32_t LookIn;
        std::string File;
        const char* Status;
        std::vector<std::pair<std::string, std::string>> Found;
    };
    const std::vector<Case> cases = {
        {MatchKind::AnyWord,
         "receipt invoice",
         "",
         "",
         0,
         0,
         files / "plain.txt",
         "This task would take plain.txt.",
         {{"byte 105", "\u2026" + std::string(35, '.') + "Your [INVOICE] for March "}}},
        {MatchKind::AnyWord,
         "invoice",
         "reminder",
         "",
         0,
         0,
         files / "reminder.txt",
         "This task would leave reminder.txt: it holds the excluded word reminder.",
         {{"byte 0", "[INVOICE], second REMINDER "}}},
        {MatchKind::AllWords,
         "invoice march april",
         "",
         "",
         0,
         0,
         files / "plain.txt",
         "This task would leave plain.txt: it lacks the words april.",
         {{"byte 105", "\u2026" + std::string(35, '.') + "Your [INVOICE] for March "},
          {"byte 117", "\u2026" + std::string(23, '.') + "Your INVOICE for [March] "}}},
        {MatchKind::Text,
         "INVOICE",
         "",
         "*.txt;*.pdf",
         0,
         0,
         files / "sheet.csv",
         "This task would leave sheet.csv: the name does not match *.txt;*.pdf.",
         {}},
        {MatchKind::Text,
         "INVOICE",
         "",
         "",
         5,
         0,
         files / "sheet.csv",
         "This task would leave sheet.csv: unchanged for 0 minutes of the 5 minutes the task "
         "waits.",
         {}},
        // The bytes of a document hold none of its words; its text does.
        {MatchKind::Text,
         "ACME-7731",
         "",
         "",
         0,
         0,
         docx,
         "This task would leave invoice-match.docx: it does not hold \"ACME-7731\".",
         {}},
        {MatchKind::Phrase,
         "customer account",
         "",
         "",
         0,
         1,
         pdf,
         "This task would take invoice-match.pdf.",
         {{"PDF text, page 1", "INVOICE No. 2024-118 [Customer account]: ACME-7731 Payment "
                               "reference: QX-4417 \u2026"}}},
    };
    StartProgram();
    Click(FRM_TaskList->BTN_AddNewTask);
    Click(FRM_AddTask->BTN_Conditions);
    TFRM_TaskConditions* w = FRM_AddTask->FRM_TaskConditions;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.File + " / " + c.Match);
        SetConditions(w, c.Kind, c.Match, c.Exclude, c.Names, c.Minutes, c.LookIn);
        Prompts.Files = {c.File};
        Click(w->BTN_Test);
        EXPECT_FALSE(w->BTN_Preview->isEnabled()) << "one job at a time";
        ASSERT_TRUE(Settle(w));
        EXPECT_EQ(w->LBL_Status->text().toStdString(), c.Status);
        EXPECT_EQ(Rows(w->LST_Results), c.Found);
    }
    // A file chooser cancelled changes nothing.
    Click(w->BTN_Test);
    EXPECT_FALSE(w->Busy());
    EXPECT_EQ(w->LBL_Status->text().toStdString(), cases.back().Status);
}

} // namespace
} // namespace ferry::test

namespace ferry::test {
namespace {

TEST_F(TaskConditionsWindow, PreviewListsExactlyWhatTheNextRunTasksNowMoves) {
    TempDir files;
    const std::string inbox = files.MakeDir("inbox");
    const std::string out = files.MakeDir("out");
    const std::string urgent = files.MakeDir("urgent");
    files.Write("inbox/a.txt", "Your INVOICE, ACME\n");
    files.Write("inbox/b.txt", "URGENT: invoice\n");    // the task ahead takes it first
    files.Write("inbox/c.txt", "INVOICE - REMINDER\n"); // excluded
    files.Write("inbox/d.csv", "INVOICE\n");            // not a name the task takes
    files.Write("inbox/e.txt", "invoices\n");           // not the whole word
    files.Write("inbox/f.txt", "an invoice\n");         // its name is taken at the destination
    files.Write("out/f.txt", "already here\n");
    files.Write("inbox/g.txt", "invoice\n");
    // A document: its words are in its text, not its bytes.
    TempDir cache;
    ScopedEnv cacheHome("XDG_CACHE_HOME", cache.Path());
    ScopedEnv helper("FERRYDESK_EXTRACT_HELPER",
                     (std::string(FERRY_BINARY_DIR) + "/bin/ferrydesk-extract").c_str());
    files.Write("inbox/h.txt", TempDir::Read(std::string(FERRY_CORPUS) + "/invoice-match.docx"));
    StoreTasks({{"Urgent", inbox, urgent, "URGENT"}, {"Elsewhere", out, urgent, "x"}});
    StartProgram();

    Click(FRM_TaskList->BTN_AddNewTask);
    FRM_AddTask->TXT_Identifier->setText(QStringLiteral("Invoices"));
    Prompts.Folders = {inbox, out};
    Click(FRM_AddTask->BTN_AddSource);
    Click(FRM_AddTask->BTN_AddDest);
    Click(FRM_AddTask->BTN_Conditions);
    TFRM_TaskConditions* w = FRM_AddTask->FRM_TaskConditions;
    SetConditions(w, MatchKind::AnyWord, "invoice bill", "reminder", "*.txt", 0, 1);
    Click(w->BTN_Preview);
    ASSERT_TRUE(Settle(w));
    const std::vector<std::pair<std::string, std::string>> preview = {
        {"a.txt", "would move (words: invoice)"},
        {"b.txt", "would stay: the task Urgent takes it first"},
        {"c.txt", "would stay: it holds the excluded word reminder"},
        {"d.csv", "would stay: the name does not match *.txt"},
        {"e.txt", "would stay: it holds none of the words invoice bill"},
        {"f.txt", "would stay: a file of that name is already in the destination"},
        {"g.txt", "would move (words: invoice)"},
        {"h.txt", "would move (document text: invoice)"},
    };
    EXPECT_EQ(Rows(w->LST_Results), preview);
    EXPECT_EQ(w->LBL_Status->text(),
              QStringLiteral("Nothing was moved: 3 files would move, 5 would stay."));
    EXPECT_EQ(files.Entries("inbox").size(), 8u) << "Preview moves nothing";
    EXPECT_TRUE(files.Entries("urgent").empty());
    EXPECT_TRUE(Passes.empty()) << "nor is it a pass of the program's";

    Click(w->BTN_OK);
    Click(FRM_AddTask->BTN_AddTask);
    ASSERT_TRUE(FRM_TaskList->isVisible());
    Click(FRM_TaskList->BTN_RunNow);
    ASSERT_TRUE(SettlePass());
    EXPECT_EQ(files.Entries("out"), (std::vector<std::string>{"a.txt", "f.txt", "g.txt", "h.txt"}));
    EXPECT_EQ(files.Entries("urgent"), std::vector<std::string>{"b.txt"});
    EXPECT_EQ(files.Entries("inbox"),
              (std::vector<std::string>{"c.txt", "d.csv", "e.txt", "f.txt"}));

    // Opened again from Edit, Preview agrees with what is left: nothing more would move.
    FRM_TaskList->Table().SetRow(3);
    Click(FRM_TaskList->BTN_EditTask);
    Click(FRM_EditTask->BTN_Conditions);
    Click(FRM_EditTask->FRM_TaskConditions->BTN_Preview);
    ASSERT_TRUE(Settle(FRM_EditTask->FRM_TaskConditions));
    EXPECT_EQ(Rows(FRM_EditTask->FRM_TaskConditions->LST_Results),
              (std::vector<std::pair<std::string, std::string>>{preview[2], preview[3], preview[4],
                                                                preview[5]}));
}

} // namespace
} // namespace ferry::test
