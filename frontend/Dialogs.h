// The seam between the program's logic and the dialogs a person answers:
// message boxes, the beep and the folder chooser. The desktop program
// installs its Qt implementation; tests install one that scripts the answers
// and records what was shown.
#pragma once

#include <string>

namespace folvane {

// Message box styles: icon and buttons.
enum class MessageStyle {
    Plain = 0,         // no icon, OK
    Critical = 16,     // critical-stop icon, OK
    Question = 36,     // question icon, Yes (default) and No
    Exclamation = 48,  // exclamation icon, OK
};

enum class MessageAnswer { Ok, Yes, No };

// A batch run calls ShowMessage and Beep from its worker threads, several at
// once; implementations must allow that.
class IDialogs {
public:
    virtual ~IDialogs() = default;
    // Shows a modal message box and returns when it is closed.
    virtual MessageAnswer ShowMessage(const std::string& text, const std::string& title,
                                      MessageStyle style) = 0;
    // The desktop's default beep.
    virtual void Beep() = 0;
    // A modal folder chooser titled `title`, folders only. The chosen
    // folder's full path ("/" for the root), or the empty text on cancel.
    virtual std::string ChooseFolder(const std::string& title) = 0;
};

// Installs the dialogs every later call uses (not owned; must outlive use).
void SetDialogs(IDialogs* dialogs);
// The installed dialogs. Without any, messages go to standard error, the
// beep does nothing, questions are answered No and no folder is chosen.
IDialogs& Dialogs();

// The program's title, used on plain notices.
inline constexpr const char* kProgramTitle = "Folvane";

}  // namespace folvane
