#pragma once

#include <QString>
#include <functional>

class QWidget;

// The program's message box: an OK button only, no icon, titled with the program title. A hook
// can take the place of the box, so that code which shows one can run without anyone answering.
class InfoBox {
public:
    using Hook = std::function<void(const QString& title, const QString& text)>;

    // Shows the box modally over parent and returns when it is dismissed.
    static void show(QWidget* parent, const QString& text);
    // While a hook is set it receives every message instead of a box; an empty hook restores
    // the box. Returns the hook that was set before.
    static Hook setHook(Hook hook);
};
