#pragma once

#include <QtGlobal>

// The instance of T that the application's root built, for the few callers that reach a service
// by its type's accessor rather than being handed it. Only the root sets it, for as long as its
// instance lives; asking while none is set is a programming error.
template<class T> class RootInstance
{
public:
    static T &get()
    {
        Q_ASSERT_X(s_instance, "RootInstance", "no application root has built this service");
        return *s_instance;
    }
    static bool isSet() { return s_instance != nullptr; }

    // Sets the instance while it lives.
    class Registration
    {
    public:
        explicit Registration(T &instance) { s_instance = &instance; }
        ~Registration() { s_instance = nullptr; }
        Registration(const Registration &) = delete;
        Registration &operator=(const Registration &) = delete;
    };

private:
    static inline T *s_instance = nullptr;
};
