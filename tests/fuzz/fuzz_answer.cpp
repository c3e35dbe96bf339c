// Answers as the client reads them: status lines, headers, interim answers and the
// framing they choose. Built a second time as fuzz_chunked with FUZZ_CHUNKED_BODY, where
// the input is the body of a chunked answer.
#include "answerdriver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Knobs knobs(data, size);
    const uint8_t pace = knobs.byte();
#ifdef FUZZ_CHUNKED_BODY
    const bool bodiless = false;
    const QByteArray input = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + knobs.rest().toByteArray();
#else
    const bool bodiless = pace & 0x80;
    const QByteArrayView input = knobs.rest();
#endif
    // However the bytes arrive and however little the caller holds, it reads the same.
    const Answer whole = readAnswer(input, bodiless, input.size() + 1, 256 * 1024);
    const Answer paced = readAnswer(input, bodiless, pieceSize(pace), roomSize(pace >> 3));
    FUZZ_CHECK(whole == paced);
    return 0;
}
