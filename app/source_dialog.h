// app: what the source commands of CPeloraDoc need of a processing dialog.
//
// The document creates processing dialogs through a factory and speaks to
// them only through this interface, so the commands (and their tests) do not
// depend on how a dialog sets itself up. The program's factory wraps
// CBitmapDialog; tests use dialogs of their own.
//
// Lifetime: a processing dialog deletes itself when its window is destroyed.
// An ISourceDialog lives exactly as long as its Window() (it is the window or
// one of its children), so whoever keeps one also keeps a QPointer to the
// window and checks it before every call.
// Threads: GUI thread only.
// May include: Qt Widgets, app/image_frame.h.
#pragma once

#include <functional>
#include <string>

#include "app/image_frame.h"

class QWidget;

class ISourceDialog {
public:
    virtual ~ISourceDialog() = default;

    // The dialog window (hidden until Show).
    virtual QWidget* Window() = 0;
    // m_strSourcePath: a file path, or a device name such as "VIDEO_IN".
    virtual void SetSourcePath(const std::string& path) = 0;
    // m_nSourceKind and m_nSeekMode.
    virtual void SetSourceKind(int nKind, int nSeekMode) = 0;
    // Makes a still image the dialog's source, shown upright and processed
    // on every pass as a paused clip. False when the dialog cannot take one.
    virtual bool SetStillSource(CStillFrame frame) = 0;
    // Shows the dialog, which runs its set-up and starts its worker.
    virtual void Show() = 0;
    // Ends the dialog's processing (its worker has ended when this returns)
    // and destroys its window, which deletes the dialog.
    virtual void EndAndDestroy() = 0;
};

// Makes a new processing dialog, created hidden, with no source.
using SourceDialogFactory = std::function<ISourceDialog*()>;
