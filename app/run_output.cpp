#include "app/run_output.h"

#include <ctime>

#include "app/utc_time.h"
#include "platform/char_output.h"

namespace {

void message_text(void* context, const uint8_t* text, uint32_t length) {
    auto* r = static_cast<RunOutput*>(context);
    console_air(r->console, text, length, MessageText);
    put_piece(text, length, r->payload_file);
    message_files_text(r->files, text, length);
}

void report_text(void* context, const uint8_t* text, uint32_t length) {
    auto* r = static_cast<RunOutput*>(context);
    console_air(r->console, text, length, ReportText);
    put_piece(text, length, r->payload_file);
}

void line(void* context, const char* text, bool logged) { run_line(*static_cast<RunOutput*>(context), text, logged); }

void message_opened(void* context) {
    auto* r = static_cast<RunOutput*>(context);
    if (!r->live) return;
    char when[UTC_TEXT_SIZE];
    format_utc_iso(std::time(nullptr), when);
    char text[64];
    std::snprintf(text, sizeof text, "### HEARD AT %s\r\n", when);
    run_line(*r, text, true);
}

void transfer_began(void* context) { message_files_began(static_cast<RunOutput*>(context)->files, std::time(nullptr)); }

void transfer_ended(void* context, const TransferSummary& summary) {
    auto* r = static_cast<RunOutput*>(context);
    ++r->messages;
    if (summary.check.intact) ++r->intact;
    message_files_ended(r->files, summary, std::time(nullptr));
}

}  // namespace

MonitorOutput run_output(RunOutput& r) {
    return MonitorOutput{&r, report_text, message_text, line, message_opened, transfer_began, transfer_ended};
}

void run_line(RunOutput& r, const char* text, bool logged) {
    console_line(r.console, text);
    if (logged) std::fputs(text, r.payload_file);
}

void print_message_count(RunOutput& r) {
    char text[96];
    std::snprintf(text, sizeof text, "### %u MESSAGES: %u OK, %u DAMAGED\r\n", r.messages, r.intact,
                  r.messages - r.intact);
    console_line(r.console, text);
}
