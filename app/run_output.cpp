#include "app/run_output.h"

#include "platform/char_output.h"

namespace {

constexpr uint8_t CR = 0x0D;
constexpr uint8_t LF = 0x0A;

// Short pieces, as one byte of a message gives, go character by character,
// which is cheaper there than a stream call.
void write_piece(const uint8_t* text, uint32_t length, std::FILE* stream) {
    if (length < 16) {
        for (uint32_t k = 0; k < length; ++k) put_char(text[k], stream);
    } else {
        std::fwrite(text, 1, length, stream);
    }
}

void message_text(void* context, const uint8_t* text, uint32_t length) {
    const auto* r = static_cast<const RunOutput*>(context);
    write_piece(text, length, stdout);
    write_piece(text, length, r->payload_file);
}

void report_text(void* context, const uint8_t* text, uint32_t length) {
    const auto* r = static_cast<const RunOutput*>(context);
    for (uint32_t k = 0; k < length; ++k) {
        if (text[k] == CR) put_char(LF, stdout);
        put_char(text[k], stdout);
    }
    write_piece(text, length, r->payload_file);
}

void line(void* context, const char* text, bool logged) {
    const auto* r = static_cast<const RunOutput*>(context);
    std::fputs(text, stdout);
    if (logged) std::fputs(text, r->payload_file);
}

void no_event(void*) {}
void no_end(void*, const TransferSummary&) {}

}  // namespace

MonitorOutput run_output(RunOutput& r) {
    return MonitorOutput{&r, report_text, message_text, line, no_event, no_event, no_end};
}
