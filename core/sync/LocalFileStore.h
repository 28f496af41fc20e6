#pragma once

// The local side of folder sync as an interface. Nothing implements or calls it yet; its
// operations are left to the first implementation that needs them.
class LocalFileStore
{
public:
    virtual ~LocalFileStore() = default;
};
