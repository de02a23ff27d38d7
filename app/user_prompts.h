// app: every question the shell asks the user: message boxes, the file
// dialogs and the print dialog.
//
// They all go through CUserPrompts so that tests can answer them (and see
// what was asked) without a modal loop: a hook, when set, replaces the real
// dialog. Without hooks the real Qt dialogs run. Message boxes are titled
// with the application title, "Pelora", and have the buttons and icon asked
// for.
//
// Threads: GUI thread only (hooks included).
// May include: Qt Widgets, Qt Print Support, app/resource.h.
#pragma once

#include <QString>
#include <functional>
#include <optional>

class QPrinter;
class QWidget;

enum class EMessageButtons { Ok, YesNo };
enum class EMessageIcon { None, Information, Warning, Question };

struct SMessageRequest {
    QString text;
    EMessageButtons buttons = EMessageButtons::Ok;
    EMessageIcon icon = EMessageIcon::None;
};

struct SFileRequest {
    bool bSave = false;  // save dialog (else open)
    QString filter;      // Qt filter list, entries separated by ";;"
};

class CUserPrompts {
public:
    using MessageHook = std::function<int(const SMessageRequest&)>;  // returns IDOK/IDYES/IDNO
    using FileHook = std::function<std::optional<QString>(const SFileRequest&)>;
    using PrintHook = std::function<bool(QPrinter&)>;  // true: print

    // Message box titled "Pelora". Returns IDOK, IDYES or IDNO.
    static int MessageBox(const QString& text, EMessageButtons buttons = EMessageButtons::Ok,
                          EMessageIcon icon = EMessageIcon::None);
    // File dialog; the chosen file's full path, or nothing when cancelled.
    static std::optional<QString> ChooseFile(const SFileRequest& request);
    // Print dialog; true when the user asked to print.
    static bool ChoosePrinter(QPrinter& printer);

    // Hooks for tests; an empty function restores the real dialog.
    static void SetMessageHook(MessageHook hook);
    static void SetFileHook(FileHook hook);
    static void SetPrintHook(PrintHook hook);

    // Parent of the real dialogs (the main window); null is allowed.
    static void SetParentWindow(QWidget* pParent);
};
