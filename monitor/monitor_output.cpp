#include "monitor/monitor_output.h"

namespace {

void no_text(void*, const uint8_t*, uint32_t) {}
void no_line(void*, const char*, bool) {}
void no_event(void*) {}
void no_end(void*, const TransferSummary&) {}

}  // namespace

MonitorOutput silent_output() { return MonitorOutput{nullptr, no_text, no_text, no_line, no_event, no_event, no_end}; }
