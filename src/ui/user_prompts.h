#pragma once

// Everything that stops to ask the user, behind one interface.

#include <string>

#include "ui/message_form.h"

namespace ferry {

// Everything that stops to ask the user: the message dialog, the error box and the folder
// browser. The windows reach them only through here, so tests can give the answers.
class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    virtual int MessageDlg(const std::string& message, TMsgDlgType type,
                           TMsgDlgButtons buttons) = 0;
    // Shows the error box with the text as given (the full stop is already added).
    virtual void ErrorBox(const std::string& text) = 0;
    // The folder browser with its title above; false when the user cancels. `path` comes in
    // as the folder the field holds (maybe empty) and goes out as the one chosen.
    virtual bool BrowseForFolder(const std::string& title, std::string& path) = 0;
    // The file chooser, likewise: `path` goes out as the file chosen.
    virtual bool ChooseFile(const std::string& title, std::string& path) = 0;
};

// The real boxes on the screen.
class QtUserPrompts : public UserPrompts {
public:
    int MessageDlg(const std::string& message, TMsgDlgType type, TMsgDlgButtons buttons) override;
    void ErrorBox(const std::string& text) override;
    bool BrowseForFolder(const std::string& title, std::string& path) override;
    bool ChooseFile(const std::string& title, std::string& path) override;
};

// The error box's text: the message, with a full stop added when its last character sorts
// after "." (letters, digits, "?"), not after "'", ")", "!" or ".".
std::string ErrorBoxText(std::string message);

// Where the folder browser opens: the folder the field already holds, else the user's
// desktop folder (XDG_DESKTOP_DIR), else the home folder.
std::string FolderBrowserStart(const std::string& current);

} // namespace ferry
