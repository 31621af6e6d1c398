// Qt sizes a message box to its title line, so a long message wraps into a
// narrow column. Every confirmation sets its message through here, which
// gives it the same room on a few wider lines.
#pragma once

class QMessageBox;
class QString;

namespace vessora::AlertWidth {

// Sets the informative text, then makes sure the room is still there: Qt
// lays the box out anew at times and drops what was added to its layout.
// Call it after the box's other texts.
void setMessage(QMessageBox& box, const QString& message);

} // namespace vessora::AlertWidth
