#include "monitor/message_framer.h"

#include <cstdio>
#include <cstring>

#include "monitor/check_line.h"
#include "monitor/number_reading.h"

namespace {

constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;

constexpr const char* HEADER_FOUND =
    "\r\n\r\n###====== <FC EM> HEADER FOUND, STARTING LZHUF DECOMPRESSION ======###\r\n";
constexpr const char* MESSAGE_COMPLETED =
    "\r\n\r\n###====== MESSAGE COMPLETED, DECOMPRESSION FINISHED ======###\r\n\r\n";
constexpr const char* NO_HEADER =
    "\r\n\r\n###====== NO <FC EM> HEADER, STARTING LZHUF DECOMPRESSION ======###\r\n";
// The line that closes a transfer, for each way it can end.
constexpr const char* CLOSINGS[] = {
    MESSAGE_COMPLETED,
    MESSAGE_COMPLETED,
    "\r\n###====== STOPPING LZHUF DECOMPRESSION: LOGICAL PACKET NOT FOUND! ======###\r\n",
    "\r\n###====== STOPPING LZHUF DECOMPRESSION: NEXT HEADER FOUND ======###\r\n",
    "\r\n###===== STOPPING LZHUF DECOMPRESSION: *** TIMEOUT *** =====###\r\n",
    "\r\n###====== STOPPING LZHUF DECOMPRESSION: PORT LOST ======###\r\n",
    "\r\n###====== STOPPING LZHUF DECOMPRESSION: END OF CAPTURE ======###\r\n",
    "\r\n###====== STOPPING LZHUF DECOMPRESSION: RUN STOPPED ======###\r\n",
};

// Milestones go to the console and into the payload file, where they mark
// the messages apart from the text around them.
void announce(const MonitorOutput& out, const char* text) { out.line(out.context, text, true); }

// Progress lines are shown only.
void show(const MonitorOutput& out, const char* text) { out.line(out.context, text, false); }

// Whether the byte that ends `after` bytes past the read index completes an
// "FC EM" line, its F standing 25 back from there: 0 tests the byte just
// handed over, i + 1 byte i of a run not yet handed over.  The F is tested
// first, which settles nearly every byte with one comparison.
bool header_completed_at(const PayloadRing& ring, int32_t after) {
    const int32_t f_back = HEADER_LOOK_BACK - after;
    if (ring_byte_back(ring, f_back) != 'F') return false;
    static constexpr char KEY[] = "FC EM";
    for (int32_t i = 1; i < 5; ++i) {
        if (ring_byte_back(ring, f_back - i) != static_cast<uint8_t>(KEY[i])) return false;
    }
    return true;
}

// How many of the next `count` bytes from the read index on can be handed
// over before one that completes an "FC EM" line: byte i does when its F
// stands 25 back, so the places where an F can stand are searched for one
// with memchr, in at most two pieces where the ring wraps.
int32_t bytes_before_header_end(const PayloadRing& ring, int32_t count) {
    constexpr int32_t F_BACK = HEADER_LOOK_BACK - 1;  // from byte i's own place
    int32_t i = 0;
    while (i < count) {
        const int32_t from = ring_wrap(ring.read_index + i - F_BACK);
        const int32_t length = count - i < PAYLOAD_RING_SIZE - from ? count - i : PAYLOAD_RING_SIZE - from;
        const void* const f = std::memchr(ring.bytes + from, 'F', static_cast<size_t>(length));
        if (f == nullptr) {
            i += length;
            continue;
        }
        i += static_cast<int32_t>(static_cast<const uint8_t*>(f) - (ring.bytes + from));
        if (header_completed_at(ring, i + 1)) return i;
        ++i;
    }
    return count;
}

// The length an "FC EM" line gives: the number after the first blank that
// follows the identifier.  Without a blank in reach it gives none.
RememberedHeader read_header(const PayloadRing& ring) {
    char line[HEADER_LOOK_BACK + 1];
    for (int32_t i = 0; i < HEADER_LOOK_BACK; ++i) {
        line[i] = static_cast<char>(ring_byte_back(ring, HEADER_LOOK_BACK - i));
    }
    line[HEADER_LOOK_BACK] = '\0';
    for (int32_t i = 6; i <= 23; ++i) {
        if (line[i] == ' ') return RememberedHeader{true, read_length(line + i, HEADER_LOOK_BACK - i)};
    }
    return RememberedHeader{false, 0};
}

// A header starts a message: announced, its length taken (the previous one
// stays when it gave none), and the transfer awaited.
void take_header(MessageFramer& f, const RememberedHeader& header, const MonitorOutput& out) {
    announce(out, HEADER_FOUND);
    out.message_opened(out.context);
    if (header.has_length) f.uncompressed_len = header.length;
    f.shown_length = f.uncompressed_len;
    if (f.uncompressed_len != 0) {
        char line[64];
        std::snprintf(line, sizeof line, "### UNCOMPRESSED LEN OF MESSAGE: %lld\r\n",
                      static_cast<long long>(f.uncompressed_len));
        show(out, line);
    }
    f.state = SeekStart;
}

// Whether the stream arrived whole, on the console and in the payload file,
// after the message's closing milestone and outside its text.
void print_check(const MessageFramer& f, const LzhufDecoder& decoder, const MonitorOutput& out, TransferEnd how) {
    const TransferSummary summary{how, stream_check(decoder), f.shown_length};
    char line[CHECK_LINE_SIZE];
    format_check_line(summary.check, line);
    announce(out, line);
    announce(out, "\r\n\r\n");
    out.transfer_ended(out.context, summary);
}

// After a message has ended: the oldest announced message is awaited next,
// or a new header is looked for.
void after_message(MessageFramer& f, const MonitorOutput& out) {
    if (f.remembered_count == 0) {
        f.state = SeekHeader;
        return;
    }
    const RememberedHeader oldest = f.remembered[0];
    --f.remembered_count;
    std::memmove(f.remembered, f.remembered + 1, sizeof f.remembered[0] * static_cast<size_t>(f.remembered_count));
    take_header(f, oldest, out);
}

// The message's stream has stopped arriving: what the pending bits still
// hold is recovered up to the stream's own length, then the closing text
// and the check.
void end_message(const MessageFramer& f, LzhufDecoder& decoder, const MonitorOutput& out, TransferEnd how) {
    finish(decoder, message_sink(out), stream_length_limit(decoder));
    announce(out, CLOSINGS[how]);
    print_check(f, decoder, out, how);
}

// An "FC EM" line has just been completed by the byte handed over.  Leaves
// the framer in SeekStart.
void header_line(MessageFramer& f, const PayloadRing& ring, LzhufDecoder& decoder, const MonitorOutput& out) {
    const RememberedHeader header = read_header(ring);
    switch (f.state) {
    case SeekHeader:
        take_header(f, header, out);
        return;
    case SeekStart:
        if (f.remembered_count < MAX_REMEMBERED_HEADERS) f.remembered[f.remembered_count++] = header;
        return;
    case SkipTypeByte:
    case BlockHeader:
    case BlockData:
        // The transfer was cut short; its last bytes fed were the header's,
        // so nothing is recovered from the pending bits.
        announce(out, CLOSINGS[NextHeader]);
        print_check(f, decoder, out, NextHeader);
        f.remembered_count = 0;
        take_header(f, header, out);
        return;
    }
}

// `n` more bytes of the transfer have been handed over.
void count_since_start(MessageFramer& f, int32_t n) {
    f.since_start = n < HEADER_LOOK_BACK - f.since_start ? f.since_start + n : HEADER_LOOK_BACK;
}

bool start_bytes_completed(const PayloadRing& ring) {
    return ring_byte_back(ring, 1) == 0x00 && ring_byte_back(ring, 2) == 0x30 && ring_byte_back(ring, 3) == 0x00;
}

void start_transfer(MessageFramer& f, LzhufDecoder& decoder, const MonitorOutput& out) {
    show(out, "\r\n### START OF COMPRESSED MESSAGE FOUND\r\n");
    out.transfer_began(out.context);
    restart(decoder);
    f.state = SkipTypeByte;
    f.since_start = 0;
}

void seek_start(MessageFramer& f, const PayloadRing& ring, LzhufDecoder& decoder, const MonitorOutput& out) {
    if (start_bytes_completed(ring)) start_transfer(f, decoder, out);
}

// Without a header the stream still says how long it is and whether it came
// whole, so the start bytes alone begin a transfer.
void seek_header(MessageFramer& f, const PayloadRing& ring, LzhufDecoder& decoder, const MonitorOutput& out) {
    if (!start_bytes_completed(ring)) return;
    announce(out, NO_HEADER);
    out.message_opened(out.context);
    f.shown_length = 0;
    start_transfer(f, decoder, out);
}

// Whether a header line completed now is the transfer's own, seen late: its
// F, 24 bytes before this one, stood before the last start byte.
bool own_late_header(const MessageFramer& f) {
    return transfer_under_way(f) && f.since_start < HEADER_LOOK_BACK - 1;
}

// The two lines before every block's text, in one write with the length
// (1..256) put in by hand: this runs for every block of every message, where
// printf's formatting would cost more than the lines are worth.
void announce_block(const MonitorOutput& out, int32_t length) {
    static constexpr char HEAD[] = "\r\n\r\n### LOGICAL PACKET FOUND, LEN ";
    static constexpr char TAIL[] = "\r\n\r\n### LZHUF OUTPUT (on the fly):\r\n\r\n";
    char line[sizeof HEAD + 3 + sizeof TAIL];
    size_t n = sizeof HEAD - 1;
    std::memcpy(line, HEAD, n);
    if (length >= 100) line[n++] = static_cast<char>('0' + length / 100);
    if (length >= 10) line[n++] = static_cast<char>('0' + length / 10 % 10);
    line[n++] = static_cast<char>('0' + length % 10);
    std::memcpy(line + n, TAIL, sizeof TAIL);  // its NUL too
    show(out, line);
}

void block_header(MessageFramer& f, const PayloadRing& ring, LzhufDecoder& decoder, const MonitorOutput& out) {
    const uint8_t type = ring_byte_back(ring, 2);
    const uint8_t length = ring_byte_back(ring, 1);
    if (type == STX) {
        // Senders write a full 256-byte block's length as 0.
        f.block_left = length == 0 ? FULL_BLOCK : length;
        announce_block(out, f.block_left);
        f.state = BlockData;
        return;
    }
    end_message(f, decoder, out, type == EOT ? EotFound : BadBlockType);
    after_message(f, out);
}

// The count has reached the stream's own length: the message is whole
// without waiting for the EOT, and the block's remaining bytes are left to
// the header search.
void complete_by_count(MessageFramer& f, LzhufDecoder& decoder, const MonitorOutput& out) {
    f.state = SeekHeader;
    end_message(f, decoder, out, LengthReached);
    restart(decoder);
    after_message(f, out);
}

// Block bytes already cleared of the header test go to the decoder.
int32_t feed_block_run(MessageFramer& f, LzhufDecoder& decoder, const MonitorOutput& out, const uint8_t* bytes,
                       int32_t count) {
    if (count <= 0) return 0;
    int32_t used = 0;
    feed_bytes(decoder, bytes, count, message_sink(out), used);
    f.block_left = static_cast<uint16_t>(f.block_left - used);
    if (stream_complete(decoder)) {
        complete_by_count(f, decoder, out);
    } else if (f.block_left == 0) {
        f.state = SkipTypeByte;
    }
    return used;
}

}  // namespace

void feed_byte(MessageFramer& framer, const PayloadRing& ring, LzhufDecoder& decoder, const MonitorOutput& out,
               uint8_t b) {
    if (transfer_under_way(framer)) count_since_start(framer, 1);
    if (header_completed_at(ring, 0) && !own_late_header(framer)) {
        header_line(framer, ring, decoder, out);
        seek_start(framer, ring, decoder, out);
        return;
    }
    switch (framer.state) {
    case SeekHeader:
        seek_header(framer, ring, decoder, out);
        return;
    case SeekStart:
        seek_start(framer, ring, decoder, out);
        return;
    case SkipTypeByte:
        framer.state = BlockHeader;
        return;
    case BlockHeader:
        block_header(framer, ring, decoder, out);
        return;
    case BlockData:
        feed_block_run(framer, decoder, out, &b, 1);
        return;
    }
}

int32_t feed_block_bytes(MessageFramer& framer, const PayloadRing& ring, LzhufDecoder& decoder,
                         const MonitorOutput& out, const uint8_t* bytes, int32_t count) {
    if (framer.state != BlockData) return 0;
    if (count > framer.block_left) count = framer.block_left;
    // The run stands in the ring from the read index on; it ends before a
    // byte that completes an "FC EM" line, which feed_byte then handles.
    count = bytes_before_header_end(ring, count);
    const int32_t used = feed_block_run(framer, decoder, out, bytes, count);
    count_since_start(framer, used);
    return used;
}

void restart(MessageFramer& framer) {
    framer.state = SeekHeader;
    framer.remembered_count = 0;
}

bool transfer_under_way(const MessageFramer& framer) {
    return framer.state == SkipTypeByte || framer.state == BlockHeader || framer.state == BlockData;
}

void abandon_transfer(MessageFramer& framer, LzhufDecoder& decoder, const MonitorOutput& out, TransferEnd why) {
    if (!transfer_under_way(framer)) return;
    end_message(framer, decoder, out, why);
    restart(decoder);
    if (why == SilenceTimeout || why == PortLost) {
        framer.state = SeekHeader;
        after_message(framer, out);
    } else {
        restart(framer);
    }
}
