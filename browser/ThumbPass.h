// The browser window's side of a thumbnail pass: its thread hands each step
// to the window's event loop. The pass itself is plain C++ (ThumbPassCore.h),
// shared with the command line.
#pragma once

#include "browser/ThumbPassCore.h"

class QObject;

// The pass's thread of the window: steps are posted to uiContext, an object
// of the user-interface thread, as queued calls.
class TMyThread : public TPassThread {
public:
    TMyThread(QObject* uiContext, std::shared_ptr<TPassWork> work, TFileCallback callback,
              std::function<void()> onTerminate);
};
