// The plain span, the reference for the others, and the choice of body.
#include "look/look_span.h"

#include "look/look_span_formats.h"

namespace look {

namespace {

template <typename Format>
void PlainSpan(const PreparedLook& look, std::int32_t x0, std::int32_t y,
               const typename Format::Pixel* in, typename Format::Pixel* out,
               std::int32_t count) {
    count = span_formats::ColumnsFrom(x0, count);
    for (std::int32_t i = 0; i < count; ++i) Format::Plain(look, x0 + i, y, in + i, out + i);
}

}  // namespace

void LookSpan8Plain(const PreparedLook& look, std::int32_t x0, std::int32_t y, const Pixel8* in,
                    Pixel8* out, std::int32_t count) {
    PlainSpan<span_formats::Argb8>(look, x0, y, in, out, count);
}

void LookSpan16Plain(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                     const Pixel16* in, Pixel16* out, std::int32_t count) {
    PlainSpan<span_formats::Argb16>(look, x0, y, in, out, count);
}

void LookSpanRgba8Plain(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                        const RgbaPixel8* in, RgbaPixel8* out, std::int32_t count) {
    PlainSpan<span_formats::Rgba8>(look, x0, y, in, out, count);
}

SpanKernels SpanKernelsFor(LookVariant variant) {
    // A variant the processor cannot run gets the baseline instead.
    if (!LookVariantRuns(variant)) variant = LookVariant::kSse2;
    switch (variant) {
        case LookVariant::kPlain:
            return {LookSpan8Plain, LookSpan16Plain, LookSpanRgba8Plain};
        case LookVariant::kSse2:
            break;
        case LookVariant::kAvx2:
            return {LookSpan8Avx2, LookSpan16Avx2, LookSpanRgba8Avx2};
    }
    return {LookSpan8Sse2, LookSpan16Sse2, LookSpanRgba8Sse2};
}

SpanValueKernels SpanValueKernelsFor(LookVariant variant) {
    if (!LookVariantRuns(variant)) variant = LookVariant::kSse2;
    switch (variant) {
        case LookVariant::kPlain:
            return {nullptr, nullptr};
        case LookVariant::kSse2:
            break;
        case LookVariant::kAvx2:
            return {LookSpanValues8Avx2, LookSpanValues16Avx2};
    }
    return {LookSpanValues8Sse2, LookSpanValues16Sse2};
}

SpanKernels FastestSpanKernels() { return SpanKernelsFor(FastestLookVariant()); }

}  // namespace look
