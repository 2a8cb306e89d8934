#pragma once
// Modal messages to the user. The application installs a sink that shows a message box; tests
// install one that records the texts. Without a sink the text goes to standard error.
#include <functional>
#include <string>
#include <vector>

using MessageSink = std::function<void(const std::string&)>;

// Shows `text` through the current sink (blocks while the application's box is open).
void ShowMessage(const std::string& text);

// Replaces the sink and returns the previous one; an empty sink restores standard error.
MessageSink SetMessageSink(MessageSink sink);

// Records every message while it lives, then puts the previous sink back.
class ScopedMessageCapture {
public:
    ScopedMessageCapture();
    ~ScopedMessageCapture();
    ScopedMessageCapture(const ScopedMessageCapture&) = delete;
    ScopedMessageCapture& operator=(const ScopedMessageCapture&) = delete;

    const std::vector<std::string>& Texts() const { return texts; }
    void Clear() { texts.clear(); }

private:
    std::vector<std::string> texts;
    MessageSink previous;
};
