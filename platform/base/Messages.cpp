#include "platform/base/Messages.h"

#include <cstdio>
#include <utility>

namespace {
MessageSink& CurrentSink()
{
    static MessageSink sink;
    return sink;
}
}

void ShowMessage(const std::string& text)
{
    // Copy first: a sink may replace itself while it runs (a nested loop closing the window).
    MessageSink sink = CurrentSink();
    if (sink)
        sink(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

MessageSink SetMessageSink(MessageSink sink)
{
    return std::exchange(CurrentSink(), std::move(sink));
}

ScopedMessageCapture::ScopedMessageCapture()
{
    previous = SetMessageSink([this](const std::string& text) { texts.push_back(text); });
}

ScopedMessageCapture::~ScopedMessageCapture()
{
    SetMessageSink(std::move(previous));
}
