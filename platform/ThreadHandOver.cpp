#include "platform/ThreadHandOver.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

const QEvent::Type deliveryEvent = QEvent::Type(QEvent::registerEventType());

class DeliveryEvent : public QEvent
{
public:
    explicit DeliveryEvent(std::function<void()> function_)
        : QEvent(deliveryEvent)
        , function(std::move(function_))
    {
    }
    // Runs before the function (and its captures) goes, on the thread that took the event.
    ~DeliveryEvent() override { handover::acquire(handover::Queue::events); }

    std::function<void()> function;
};

} // namespace

handover::Delivery *handover::Delivery::of(QObject *receiver)
{
    if (auto *existing = receiver->findChild<Delivery *>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    return new Delivery(receiver);
}

void handover::Delivery::post(std::function<void()> function)
{
    auto *event = new DeliveryEvent(std::move(function));
    release(Queue::events);
    QCoreApplication::postEvent(this, event);
}

bool handover::Delivery::event(QEvent *event)
{
    if (event->type() != deliveryEvent)
        return QObject::event(event);
    acquire(Queue::events);
    static_cast<DeliveryEvent *>(event)->function();
    return true;
}
