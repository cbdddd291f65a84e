// The root of the class family and the notification type every event uses.
#pragma once

#include <functional>

class TObject {
public:
    virtual ~TObject() = default;
};

// A notification with the firing object as Sender; empty means unassigned.
using TNotifyEvent = std::function<void(TObject* Sender)>;
