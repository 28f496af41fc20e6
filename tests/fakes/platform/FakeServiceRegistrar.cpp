#include "fakes/platform/FakeServiceRegistrar.h"

namespace {

class FakeRegistration final : public ServiceRegistrar::Registration
{
public:
    explicit FakeRegistration(std::shared_ptr<FakeServiceRegistrar::Record> record)
        : m_record(std::move(record))
    {
        ++m_record->liveRegistrations;
    }
    ~FakeRegistration() override { --m_record->liveRegistrations; }

private:
    std::shared_ptr<FakeServiceRegistrar::Record> m_record;
};

} // namespace

FakeServiceRegistrar::FakeServiceRegistrar(std::shared_ptr<Record> record)
    : m_record(std::move(record))
{
}

std::unique_ptr<ServiceRegistrar::Registration>
FakeServiceRegistrar::registerService(const Service &service, StateHandler onState, QString *error)
{
    if (!m_record->creationError.isEmpty()) {
        *error = m_record->creationError;
        return nullptr;
    }
    m_record->services.append(service);
    m_record->handler = std::move(onState);
    return std::make_unique<FakeRegistration>(m_record);
}
