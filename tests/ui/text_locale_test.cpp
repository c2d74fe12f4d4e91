#include <QAbstractItemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "platform/codepage.h"
#include "support/code_page_scope.h"
#include "ui/frm_add_task.h"
#include "ui/frm_options.h"
#include "ui/frm_task_list.h"
#include "ui_fixture.h"

namespace ferry::test {
namespace {

// Text typed in the user's own language, in the code page of each locale.
class TextLocale : public ProgramTest {
protected:
    void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    // As an input method hands over what the user composed.
    void Type(QLineEdit* field, const QString& text) {
        field->clear();
        field->insert(text);
    }
    // The grid as shown: task n on row n - 1, the name in column 0, the match string in 3.
    QString GridText(int task, int column) const {
        const QAbstractItemModel* model = FRM_TaskList->STG_TaskList->model();
        return model->data(model->index(task - 1, column)).toString();
    }
    void Restart() {
        App.reset();
        StartProgram();
    }
};

struct Case {
    const char* Locale;
    std::vector<QString> Names; // one task each
    QString Sender;
    std::string FirstStored; // the first name's bytes in the hive
};

TEST_F(TextLocale, TypedTextSurvivesTheHiveARestartAndTheOptions) {
    const Case cases[] = {
        {"en_US.UTF-8",
         {QStringLiteral(u"Bank Счёт"), QStringLiteral(u"Λογαριασμός"),
          QStringLiteral(u"口座の請求書"), QString::fromUtf8("Rechnung 😀 ẞ")},
         QStringLiteral(u"Иван <ivan@example.org>"),
         "Bank Счёт"},
        {"ru_RU.KOI8-R",
         {QStringLiteral(u"Bank Счёт"), QStringLiteral(u"ЁЛКА ёлка")},
         QStringLiteral(u"Иван <ivan@example.org>"),
         "Bank \xF3\xDE\xA3\xD4"},
        // Code page 932: second bytes that are a backslash (ソ, 表) or a letter (С is 84 52).
        {"ja_JP.SJIS",
         {QStringLiteral(u"Bank Счёт"), QStringLiteral(u"口座の請求書 ソ表"),
          QStringLiteral(u"ｱｲｳ ＡＢＣ")},
         QStringLiteral(u"日本 太郎 <taro@example.jp>"),
         "Bank \x84R\x84\x89\x84v\x84\x84"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Locale);
        ScopedCodePage codePage(c.Locale);
        if (!codePage.Ok())
            GTEST_SKIP() << codePage.Why();
        RegistrySandbox sandbox; // a fresh store for each locale
        StartProgram();
        int n = 0;
        for (const QString& name : c.Names) {
            ++n;
            Click(FRM_TaskList->BTN_AddNewTask);
            Type(FRM_AddTask->TXT_Identifier, name);
            Prompts.Folders = {"/srv/in", "/srv/out"};
            Click(FRM_AddTask->BTN_AddSource);
            Click(FRM_AddTask->BTN_AddDest);
            Type(FRM_AddTask->TXT_MatchString, name.toLower());
            Click(FRM_AddTask->BTN_AddTask);
            ASSERT_TRUE(FRM_TaskList->isVisible());
            // The hive holds the code page's bytes, all of them.
            const TaskRecord stored = StoredTask(n);
            const std::u16string wide(reinterpret_cast<const char16_t*>(name.utf16()),
                                      static_cast<size_t>(name.size()));
            EXPECT_EQ(stored.Identifier, SystemCodePage().FromUtf16(wide));
            EXPECT_EQ(stored.Identifier.find('?'), std::string::npos) << stored.Identifier;
        }
        EXPECT_EQ(StoredTask(1).Identifier, c.FirstStored);

        Click(FRM_TaskList->BTN_Options);
        Type(FRM_Options->TXT_SMTPFROM, c.Sender);
        Type(FRM_Options->TXT_SMTPMessage, c.Names.back());
        Click(FRM_Options->BTN_Apply);
        ASSERT_FALSE(FRM_Options->isVisible());

        Restart();
        for (int row = 1; row <= n; ++row) {
            EXPECT_EQ(GridText(row, 0), c.Names[static_cast<size_t>(row - 1)]);
            EXPECT_EQ(GridText(row, 3), c.Names[static_cast<size_t>(row - 1)].toLower());
        }
        Click(FRM_TaskList->BTN_Options);
        EXPECT_EQ(FRM_Options->TXT_SMTPFROM->text(), c.Sender);
        EXPECT_EQ(FRM_Options->TXT_SMTPMessage->text(), c.Names.back());
        Click(FRM_Options->BTN_Cancel);
        App.reset();
    }
}

} // namespace
} // namespace ferry::test
