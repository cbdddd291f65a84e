// The event pump of the GUI thread and the application's standard exception handler.
#pragma once

#include <exception>
#include <functional>
#include <string>

// Runs every pending event and returns without waiting.
void ProcessMessages();
// Blocks in the event dispatcher until at least one event (posted message, socket
// readiness, timer tick or user action) has arrived, and runs what is pending.
void WaitMessage();

// Reports a failure that left a handler without a caller to take it. The default
// handler writes the message to standard error; the application installs its error box.
using TExceptionHandler = std::function<void(const std::string& Message)>;
void SetApplicationExceptionHandler(TExceptionHandler Handler);
void ApplicationHandleException(const std::exception& E);
