#pragma once

// The Task Conditions window, opened from either task dialog: how the match string is read,
// the words that keep a file out, the names and ages a task takes, whether it looks inside
// documents; and two ways to see what the task would do before it does it.

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/cancellation.h"
#include "core/conditions/task_conditions.h"
#include "core/pass_worker.h"
#include "core/task_table.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace ferry {

class DocumentReader;
class TApplication;
struct FileCheck;
struct PreviewRow;

class TFRM_TaskConditions : public QWidget {
    Q_OBJECT
public:
    TFRM_TaskConditions(TApplication& app, QWidget* parent);
    ~TFRM_TaskConditions() override;

    // Opens the window on the task as its dialog holds it now (its folders are what Preview
    // looks at), with the conditions it has so far.
    void ShowTask(const TaskRecord& task, const TaskConditions& conditions);
    // The conditions as the window's controls have them.
    TaskConditions Conditions() const;
    // Whether Test or Preview is still at work.
    bool Busy() const { return Running_ != Job::None; }

    void BTN_TestClick();
    // Test on a file without the file chooser: `path` as chosen.
    void TestFile(const std::string& path);
    void BTN_PreviewClick();
    void BTN_OKClick();
    void BTN_CancelClick();

    QLabel* LBL_MatchKind;
    QComboBox* CMB_MatchKind;
    QLabel* LBL_MatchString;
    QLineEdit* TXT_MatchString;
    QLabel* LBL_Exclude;
    QLineEdit* TXT_ExcludeString;
    QLabel* LBL_ExcludeHint;
    QLabel* LBL_Names;
    QLineEdit* TXT_NamePattern;
    QLabel* LBL_NamesHint;
    QLabel* LBL_Age;
    QSpinBox* SPN_MinAge;
    QLabel* LBL_AgeUnit;
    QCheckBox* CHK_Documents;
    QCheckBox* CHK_Ocr;
    QPushButton* BTN_Test;
    QPushButton* BTN_Preview;
    QLabel* LBL_Status;
    QTreeWidget* LST_Results;
    QPushButton* BTN_OK;
    QPushButton* BTN_Cancel;

    // The conditions the user accepted, match string included.
    std::function<void(const TaskConditions& conditions)> OnAccepted;
    // The tasks ahead of this one in the table, on the window's thread: those on the same
    // folder take their files first in a pass, and so in Preview.
    std::function<std::vector<TaskRecord>()> TasksAhead;

protected:
    void showEvent(QShowEvent* event) override;
    // Ctrl+C in the list copies the current row whole, its two columns parted by a tab.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    enum class Job { None, Test, Preview };

    bool Start(Job job, std::function<std::function<void()>(const CancelFlag&)> work);
    void Finished(unsigned serial, const std::function<void()>& show);
    void Abandon();
    void ShowCheck(const std::string& file, const FileCheck& check);
    void ShowPreview(const std::vector<PreviewRow>& rows);
    void ShowFailure(const std::string& why);
    void KindChanged();
    void DocumentsChanged();

    TApplication& App_;
    TaskRecord Task_;
    uint32_t UnknownKind_ = 0; // a stored kind the list does not offer, kept as it was
    PassWorker Worker_;
    Job Running_ = Job::None;
    unsigned Serial_ = 0; // of the latest job: an abandoned job's end is not shown
    // Used on the worker thread only; kept so the helper stays up between tests.
    std::unique_ptr<DocumentReader> Documents_;
};

} // namespace ferry
