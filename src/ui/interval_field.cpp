#include "ui/interval_field.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>

namespace ferry {

char IntervalKey(char key) {
    if ((key >= '0' && key <= '9') || key == '\b')
        return key;
    return 0;
}

bool RefuseIntervalKey(const QKeyEvent& press, const QLineEdit& field) {
    // Tab moves the focus on before it is ever a character the field could take.
    if (press.key() == Qt::Key_Tab || press.key() == Qt::Key_Backtab)
        return false;
    const QString text = press.text();
    // Keys that type nothing (arrows, Delete, Home) are not characters and pass.
    if (text.isEmpty() || text == QStringLiteral("\x7f"))
        return false;
    const QChar ch = text.at(0);
    const char key = ch.unicode() < 0x80 ? static_cast<char>(ch.unicode()) : 0;
    if (text.size() != 1 || IntervalKey(key) == 0)
        return true;
    const int kept = static_cast<int>(field.text().size() - field.selectedText().size());
    return key != '\b' && kept >= kIntervalLength;
}

QString FitTypedInterval(const QString& before, const QString& now, int& cursor) {
    cursor = -1;
    qsizetype prefix = 0;
    while (prefix < before.size() && prefix < now.size() && before[prefix] == now[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < before.size() - prefix && suffix < now.size() - prefix &&
           before[before.size() - 1 - suffix] == now[now.size() - 1 - suffix])
        ++suffix;
    const qsizetype removed = before.size() - prefix - suffix;
    const QString inserted = now.mid(prefix, now.size() - prefix - suffix);
    const qsizetype room = std::max<qsizetype>(0, kIntervalLength - (before.size() - removed));
    if (inserted.size() <= room)
        return now;
    cursor = static_cast<int>(prefix + room);
    return before.left(prefix) + inserted.left(room) + before.mid(prefix + removed);
}

} // namespace ferry
