#pragma once

// Texts between the code page the program keeps and the Unicode the widgets speak.

#include <QString>
#include <string>

namespace ferry {

// The program's texts are bytes in the system code page (platform/codepage); the widgets
// speak Unicode. These convert at the edge; a character the code page lacks becomes "?".
QString AnsiToQString(const std::string& text);
std::string QStringToAnsi(const QString& text);

// Folder paths are bytes in the file system's own encoding, not in the code page, so that a
// chosen folder is found again by the file calls whatever characters its name holds.
QString PathToQString(const std::string& path);
std::string QStringToPath(const QString& path);

} // namespace ferry
