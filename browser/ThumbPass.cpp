#include "browser/ThumbPass.h"

// Qt
#include <QMetaObject>
#include <QObject>

namespace {

TPostStep PostTo(QObject* uiContext)
{
    return [uiContext](std::function<void()> step) {
        QMetaObject::invokeMethod(uiContext, std::move(step), Qt::QueuedConnection);
    };
}

}  // namespace

TMyThread::TMyThread(QObject* uiContext, std::shared_ptr<TPassWork> work, TFileCallback callback,
                     std::function<void()> onTerminate)
    : TPassThread(PostTo(uiContext), std::move(work), std::move(callback), std::move(onTerminate))
{
}
