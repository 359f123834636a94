#include "app/utc_time.h"

namespace {

std::tm utc(std::time_t t) {
    std::tm parts{};
#if defined(_WIN32)
    gmtime_s(&parts, &t);
#else
    gmtime_r(&t, &parts);
#endif
    return parts;
}

}  // namespace

void format_utc_iso(std::time_t t, char (&text)[UTC_TEXT_SIZE]) {
    const std::tm parts = utc(t);
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
}

void format_utc_compact(std::time_t t, char (&text)[UTC_TEXT_SIZE]) {
    const std::tm parts = utc(t);
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%SZ", &parts);
}
