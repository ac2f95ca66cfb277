#include <QSocketNotifier>
#include <vector>

#include "window/qt/qt_layer_state.h"
#include "window/window_watch.h"

namespace {

struct Watch {
    int descriptor;
    QSocketNotifier* notifier;
};

std::vector<Watch> watches;

}  // namespace

bool windowWatchReadable(int descriptor, void (*onReadable)(void* context), void* context) {
    if (!windowcore::onUserInterfaceThread() || descriptor < 0 || onReadable == nullptr)
        return false;
    windowUnwatch(descriptor);
    auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [onReadable, context] { onReadable(context); });
    watches.push_back({descriptor, notifier});
    return true;
}

void windowUnwatch(int descriptor) {
    for (auto it = watches.begin(); it != watches.end(); ++it) {
        if (it->descriptor != descriptor) continue;
        it->notifier->setEnabled(false);
        it->notifier->deleteLater();
        watches.erase(it);
        return;
    }
}

void qtlayer::unwatchAllDescriptors() {
    for (Watch& watch : watches) delete watch.notifier;
    watches.clear();
}
