#pragma once

#include "platform/BonjourAdvertiser.h"

#include <QList>
#include <QString>

#include <memory>

// A DNS-SD registrar the test drives by hand. The advertiser owns it; the test keeps the shared
// record to look inside and to report states.
class FakeServiceRegistrar final : public ServiceRegistrar
{
public:
    struct Record
    {
        QList<Service> services; // every service registered, in order
        int liveRegistrations = 0;
        QString creationError; // non-empty: registerService fails with it
        StateHandler handler; // the newest registration's handler

        void report(State state) const
        {
            if (handler)
                handler(state);
        }
    };

    explicit FakeServiceRegistrar(std::shared_ptr<Record> record);

    std::unique_ptr<Registration> registerService(const Service &service, StateHandler onState,
                                                  QString *error) override;

private:
    std::shared_ptr<Record> m_record;
};
