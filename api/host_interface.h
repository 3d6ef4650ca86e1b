// Declarations of the compositing host's effect interface, as laid out by the
// host on 64-bit Windows. Shared by the module and by our own host. Every type
// has a fixed width so the layout is identical on Linux x86-64 and Win64;
// host_layout_checks.h verifies every size and offset at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

using A_long = std::int32_t;
using A_u_long = std::uint32_t;
using A_short = std::int16_t;
using A_u_short = std::uint16_t;
using A_u_char = std::uint8_t;
using A_Err = std::int32_t;

using PF_Err = std::int32_t;
using PF_Cmd = std::int32_t;
using PF_Fixed = std::int32_t;
using PF_Boolean = char;
using PF_Handle = void**;
using PF_ParamIndex = std::int32_t;
using PF_ParamType = std::int32_t;
using PF_ParamFlags = std::int32_t;
using PF_ParamUIFlags = std::int32_t;
using PF_OutFlags = std::int32_t;
using PF_OutFlags2 = std::int32_t;
using PF_InFlags = std::int32_t;
using PF_WorldFlags = std::int32_t;
using PF_Quality = std::int32_t;
using PF_Field = std::int32_t;
using PF_ValueDisplayFlags = std::int16_t;
using PF_FSliderFlags = std::uint32_t;
using PF_PathID = std::uint32_t;
using SPErr = std::int32_t;
using SPBoolean = std::int32_t;

// Opaque host types that only pass through as pointers.
struct PF_ProgressInfo;
struct PF_CustomUIInfo;
struct PF_SampPB;
struct PF_MaskWorld;
struct PF_FloatMatrix;
struct PF_LayerAudioOpaque;
struct PF_PluginData;
using PF_ProgPtr = PF_ProgressInfo*;
using PF_LayerAudio = PF_LayerAudioOpaque*;
using PF_PluginDataPtr = PF_PluginData*;

struct PF_SpecVersion {
    std::int16_t major;
    std::int16_t minor;
};

struct PF_Point {
    std::int32_t h;
    std::int32_t v;
};

struct PF_LRect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};
using PF_Rect = PF_LRect;

struct PF_RationalScale {
    std::int32_t num;
    std::uint32_t den;
};

struct PF_SoundFormatInfo {
    double rateF;
    std::int16_t num_channels;
    std::int16_t format;
    std::int16_t sample_size;
};

struct PF_SoundWorld {
    PF_SoundFormatInfo fi;
    std::int32_t num_samples;
    void* dataP;
};

// Channels are stored alpha, red, green, blue at every depth.
struct PF_Pixel8 {
    std::uint8_t alpha;
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};
using PF_Pixel = PF_Pixel8;

// 16-bit channels run from 0 to 32768, not 65535.
struct PF_Pixel16 {
    std::uint16_t alpha;
    std::uint16_t red;
    std::uint16_t green;
    std::uint16_t blue;
};

struct PF_PixelFloat {
    float alpha;
    float red;
    float green;
    float blue;
};
using PF_Pixel32 = PF_PixelFloat;

struct PF_LayerDef {
    void* reserved0;
    void* reserved1;
    PF_WorldFlags world_flags;
    PF_Pixel8* data;
    std::int32_t rowbytes;
    std::int32_t width;
    std::int32_t height;
    PF_LRect extent_hint;
    void* platform_ref;
    std::int32_t reserved_long1;
    void* reserved_long4;
    PF_RationalScale pix_aspect_ratio;
    void* reserved_long2;
    std::int32_t origin_x;
    std::int32_t origin_y;
    std::int32_t reserved_long3;
    std::int32_t dephault;
};
using PF_EffectWorld = PF_LayerDef;

// ---- parameter definitions -------------------------------------------------

struct PF_SliderDef {
    std::int32_t value;
    char value_str[32];
    char value_desc[32];
    std::int32_t valid_min;
    std::int32_t valid_max;
    std::int32_t slider_min;
    std::int32_t slider_max;
    std::int32_t dephault;
};

struct PF_FixedSliderDef {
    PF_Fixed value;
    char value_str[32];
    char value_desc[32];
    PF_Fixed valid_min;
    PF_Fixed valid_max;
    PF_Fixed slider_min;
    PF_Fixed slider_max;
    PF_Fixed dephault;
    std::int16_t precision;
    std::int16_t display_flags;
};

struct PF_AngleDef {
    PF_Fixed value;
    PF_Fixed dephault;
    PF_Fixed valid_min;
    PF_Fixed valid_max;
};

struct PF_CheckBoxDef {
    std::int32_t value;
    PF_Boolean dephault;
    char reserved;
    std::int16_t reserved1;
    union {
        const char* nameptr;
    } u;
};

struct PF_ColorDef {
    PF_Pixel8 value;
    PF_Pixel8 dephault;
};

struct PF_PointDef {
    PF_Fixed x_value;
    PF_Fixed y_value;
    char reserved[3];
    PF_Boolean restrict_bounds;
    PF_Fixed x_dephault;
    PF_Fixed y_dephault;
};

struct PF_PopupDef {
    std::int32_t value;
    std::int16_t num_choices;
    std::int16_t dephault;
    union {
        const char* namesptr;
    } u;
};

struct PF_FloatSliderDef {
    double value;
    double phase;
    char value_desc[32];
    float valid_min;
    float valid_max;
    float slider_min;
    float slider_max;
    float dephault;
    std::int16_t precision;
    PF_ValueDisplayFlags display_flags;
    PF_FSliderFlags fs_flags;
    float curve_tolerance;
    PF_Boolean useExponent;
    float exponent;
};

struct PF_ArbitraryDef {
    std::int16_t id;
    std::int16_t pad;
    PF_Handle dephault;
    PF_Handle value;
    void* refconPV;
};

struct PF_PathDef {
    PF_PathID path_id;
    std::int32_t reserved0;
    std::int32_t dephault;
};

struct PF_ButtonDef {
    std::int32_t value;
    union {
        const char* namesptr;
    } u;
};

struct PF_Point3DDef {
    double x_value;
    double y_value;
    double z_value;
    double x_dephault;
    double y_dephault;
    double z_dephault;
    char reserved[16];
};

union PF_ParamDefUnion {
    PF_LayerDef ld;
    PF_SliderDef sd;
    PF_FixedSliderDef fd;
    PF_AngleDef ad;
    PF_CheckBoxDef bd;
    PF_ColorDef cd;
    PF_PointDef td;
    PF_PopupDef pd;
    PF_FloatSliderDef fs_d;
    PF_ArbitraryDef arb_d;
    PF_PathDef path_d;
    PF_ButtonDef button_d;
    PF_Point3DDef point3d_d;
};

struct PF_ParamDef {
    union {
        std::int32_t id;
        std::int32_t change_flags;
    } uu;
    PF_ParamUIFlags ui_flags;
    std::int16_t ui_width;
    std::int16_t ui_height;
    PF_ParamType param_type;
    char name[32];
    PF_ParamFlags flags;
    std::int32_t unused;
    PF_ParamDefUnion u;
};
using PF_ParamList = PF_ParamDef**;

// ---- per-pixel functions and callbacks -------------------------------------

using PF_IteratePixel8Func = PF_Err (*)(void* refcon, std::int32_t x, std::int32_t y,
                                        PF_Pixel8* in, PF_Pixel8* out);
using PF_IteratePixel16Func = PF_Err (*)(void* refcon, std::int32_t x, std::int32_t y,
                                         PF_Pixel16* in, PF_Pixel16* out);
using PF_IteratePixelFloatFunc = PF_Err (*)(void* refcon, std::int32_t x, std::int32_t y,
                                            PF_PixelFloat* in, PF_PixelFloat* out);
using PF_IterateGenericFunc = PF_Err (*)(void* refcon, std::int32_t thread_index,
                                         std::int32_t i, std::int32_t iterations);

struct PF_InData;

using PF_Iterate8Fn = PF_Err (*)(PF_InData* in_data, std::int32_t progress_base,
                                 std::int32_t progress_final, PF_EffectWorld* src,
                                 const PF_Rect* area, void* refcon,
                                 PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
using PF_Iterate16Fn = PF_Err (*)(PF_InData* in_data, std::int32_t progress_base,
                                  std::int32_t progress_final, PF_EffectWorld* src,
                                  const PF_Rect* area, void* refcon,
                                  PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst);
using PF_IterateOrigin8Fn = PF_Err (*)(PF_InData*, std::int32_t, std::int32_t,
                                       PF_EffectWorld*, const PF_Rect*, const PF_Point*,
                                       void*, PF_IteratePixel8Func, PF_EffectWorld*);
using PF_IterateOrigin16Fn = PF_Err (*)(PF_InData*, std::int32_t, std::int32_t,
                                        PF_EffectWorld*, const PF_Rect*, const PF_Point*,
                                        void*, PF_IteratePixel16Func, PF_EffectWorld*);
using PF_IterateLutFn = PF_Err (*)(PF_InData*, std::int32_t, std::int32_t, PF_EffectWorld*,
                                   const PF_Rect*, std::uint8_t*, std::uint8_t*,
                                   std::uint8_t*, std::uint8_t*, PF_EffectWorld*);
using PF_IterateGenericFn = PF_Err (*)(std::int32_t iterations, void* refcon,
                                       PF_IterateGenericFunc fn);

using PF_MathFn1 = double (*)(double);
using PF_MathFn2 = double (*)(double, double);
using PF_SprintfFn = int (*)(char* buffer, const char* format, ...);
using PF_StrcpyFn = char* (*)(char* dst, const char* src);

struct PF_InteractCallbacks {
    PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, std::int32_t what_time,
                             std::int32_t time_step, std::uint32_t time_scale,
                             PF_ParamDef* param);
    PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
    PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def);
    PF_Err (*abort)(PF_ProgPtr effect_ref);
    PF_Err (*progress)(PF_ProgPtr effect_ref, std::int32_t current, std::int32_t total);
    PF_Err (*register_ui)(PF_ProgPtr effect_ref, PF_CustomUIInfo* cust_info);
    PF_Err (*checkout_layer_audio)(PF_ProgPtr, PF_ParamIndex, std::int32_t, std::int32_t,
                                   std::uint32_t, std::uint32_t, std::int32_t, std::int32_t,
                                   std::int32_t, PF_LayerAudio*);
    PF_Err (*checkin_layer_audio)(PF_ProgPtr, PF_LayerAudio);
    PF_Err (*get_audio_data)(PF_ProgPtr, PF_LayerAudio, void**, std::int32_t*,
                             std::uint32_t*, std::int32_t*, std::int32_t*, std::int32_t*);
    void* reserved_str[3];
    void* reserved[10];
};

// The ANSI block nested in the utility callbacks (it carries a trailing word
// that the ANSI suite's table does not).
struct PF_ANSICallbacks {
    PF_MathFn1 atan;
    PF_MathFn2 atan2;
    PF_MathFn1 ceil;
    PF_MathFn1 cos;
    PF_MathFn1 exp;
    PF_MathFn1 fabs;
    PF_MathFn1 floor;
    PF_MathFn2 fmod;
    PF_MathFn2 hypot;
    PF_MathFn1 log;
    PF_MathFn1 log10;
    PF_MathFn2 pow;
    PF_MathFn1 sin;
    PF_MathFn1 sqrt;
    PF_MathFn1 tan;
    PF_SprintfFn sprintf;
    PF_StrcpyFn strcpy;
    PF_MathFn1 asin;
    PF_MathFn1 acos;
    std::int32_t ansi_procs[1];
};

using PF_ColorFn = PF_Err (*)(PF_ProgPtr, PF_Pixel8*, PF_Fixed*);
using PF_ColorInvFn = PF_Err (*)(PF_ProgPtr, PF_Fixed*, PF_Pixel8*);

struct PF_ColorCallbacks {
    PF_ColorFn RGBtoHLS;
    PF_ColorInvFn HLStoRGB;
    PF_ColorFn RGBtoYIQ;
    PF_ColorInvFn YIQtoRGB;
    PF_ColorFn Luminance;
    PF_ColorFn Hue;
    PF_ColorFn Lightness;
    PF_ColorFn Saturation;
};

struct PF_CompositeMode {
    std::int32_t xfer;
    std::int32_t rand_seed;
    std::uint8_t opacity;
    PF_Boolean rgb_only;
    std::uint16_t opacitySu;
};

struct PF_UtilCallbacks {
    PF_Err (*begin_sampling)(PF_ProgPtr, PF_Quality, std::int32_t, PF_SampPB*);
    PF_Err (*subpixel_sample)(PF_ProgPtr, PF_Fixed, PF_Fixed, const PF_SampPB*, PF_Pixel8*);
    PF_Err (*area_sample)(PF_ProgPtr, PF_Fixed, PF_Fixed, const PF_SampPB*, PF_Pixel8*);
    void* get_batch_func_is_deprecated;
    PF_Err (*end_sampling)(PF_ProgPtr, PF_Quality, std::int32_t, PF_SampPB*);
    PF_Err (*composite_rect)(PF_ProgPtr, PF_Rect*, std::int32_t, PF_EffectWorld*,
                             std::int32_t, std::int32_t, PF_Field, std::int32_t,
                             PF_EffectWorld*);
    PF_Err (*blend)(PF_ProgPtr, const PF_EffectWorld*, const PF_EffectWorld*, PF_Fixed,
                    PF_EffectWorld*);
    PF_Err (*convolve)(PF_ProgPtr, PF_EffectWorld*, const PF_Rect*, std::uint32_t,
                       std::int32_t, void*, void*, void*, void*, PF_EffectWorld*);
    PF_Err (*copy)(PF_ProgPtr, PF_EffectWorld*, PF_EffectWorld*, PF_Rect*, PF_Rect*);
    PF_Err (*fill)(PF_ProgPtr, const PF_Pixel8*, const PF_Rect*, PF_EffectWorld*);
    PF_Err (*gaussian_kernel)(PF_ProgPtr, double, std::uint32_t, double, std::int32_t*,
                              void*);
    PF_Iterate8Fn iterate;
    PF_Err (*premultiply)(PF_ProgPtr, std::int32_t, PF_EffectWorld*);
    PF_Err (*premultiply_color)(PF_ProgPtr, PF_EffectWorld*, const PF_Pixel8*, std::int32_t,
                                PF_EffectWorld*);
    PF_Err (*new_world)(PF_ProgPtr, std::int32_t, std::int32_t, std::int32_t,
                        PF_EffectWorld*);
    PF_Err (*dispose_world)(PF_ProgPtr, PF_EffectWorld*);
    PF_IterateOrigin8Fn iterate_origin;
    PF_IterateLutFn iterate_lut;
    PF_Err (*transfer_rect)(PF_ProgPtr, PF_Quality, std::int32_t, PF_Field, const PF_Rect*,
                            const PF_EffectWorld*, const PF_CompositeMode*,
                            const PF_MaskWorld*, PF_Fixed, PF_Fixed, PF_EffectWorld*);
    PF_Err (*transform_world)(PF_ProgPtr, PF_Quality, std::int32_t, PF_Field,
                              const PF_EffectWorld*, const PF_CompositeMode*,
                              const PF_MaskWorld*, const PF_FloatMatrix*, std::int32_t,
                              PF_Boolean, const PF_Rect*, PF_EffectWorld*);
    PF_Handle (*host_new_handle)(std::uint64_t size);
    void* (*host_lock_handle)(PF_Handle);
    void (*host_unlock_handle)(PF_Handle);
    void (*host_dispose_handle)(PF_Handle);
    PF_Err (*get_callback_addr)(PF_ProgPtr, PF_Quality, std::int32_t, std::int32_t, void**);
    PF_Err (*app)(PF_ProgPtr, std::int32_t, ...);
    PF_ANSICallbacks ansi;
    PF_ColorCallbacks colorCB;
    PF_Err (*get_platform_data)(PF_ProgPtr, std::int32_t, void*);
    std::uint64_t (*host_get_handle_size)(PF_Handle);
    PF_IterateOrigin8Fn iterate_origin_non_clip_src;
    PF_IterateGenericFn iterate_generic;
    PF_Err (*host_resize_handle)(std::uint64_t, PF_Handle*);
    PF_Err (*subpixel_sample16)(PF_ProgPtr, PF_Fixed, PF_Fixed, const PF_SampPB*, PF_Pixel16*);
    PF_Err (*area_sample16)(PF_ProgPtr, PF_Fixed, PF_Fixed, const PF_SampPB*, PF_Pixel16*);
    PF_Err (*fill16)(PF_ProgPtr, const PF_Pixel16*, const PF_Rect*, PF_EffectWorld*);
    PF_Err (*premultiply_color16)(PF_ProgPtr, PF_EffectWorld*, const PF_Pixel16*,
                                  std::int32_t, PF_EffectWorld*);
    PF_Iterate16Fn iterate16;
    PF_IterateOrigin16Fn iterate_origin16;
    PF_IterateOrigin16Fn iterate_origin_non_clip_src16;
    PF_Err (*get_pixel_data8)(PF_EffectWorld*, PF_Pixel8*, PF_Pixel8**);
    PF_Err (*get_pixel_data16)(PF_EffectWorld*, PF_Pixel8*, PF_Pixel16**);
    std::int32_t reserved[1];
};

// ---- suites ----------------------------------------------------------------

struct SPBasicSuite {
    SPErr (*AcquireSuite)(const char* name, std::int32_t version, const void** suite);
    SPErr (*ReleaseSuite)(const char* name, std::int32_t version);
    SPBoolean (*IsEqual)(const char* token1, const char* token2);
    SPErr (*AllocateBlock)(std::size_t size, void** block);
    SPErr (*FreeBlock)(void* block);
    SPErr (*ReallocateBlock)(void* block, std::size_t new_size, void** new_block);
    SPErr (*Undefined)();
};

struct PF_ANSICallbacksSuite1 {
    PF_MathFn1 atan;
    PF_MathFn2 atan2;
    PF_MathFn1 ceil;
    PF_MathFn1 cos;
    PF_MathFn1 exp;
    PF_MathFn1 fabs;
    PF_MathFn1 floor;
    PF_MathFn2 fmod;
    PF_MathFn2 hypot;
    PF_MathFn1 log;
    PF_MathFn1 log10;
    PF_MathFn2 pow;
    PF_MathFn1 sin;
    PF_MathFn1 sqrt;
    PF_MathFn1 tan;
    PF_SprintfFn sprintf;
    PF_StrcpyFn strcpy;
    PF_MathFn1 asin;
    PF_MathFn1 acos;
};

struct PF_Iterate8Suite1 {
    PF_Iterate8Fn iterate;
    PF_IterateOrigin8Fn iterate_origin;
    PF_IterateLutFn iterate_lut;
    PF_IterateOrigin8Fn iterate_origin_non_clip_src;
    PF_IterateGenericFn iterate_generic;
};
using PF_Iterate8Suite2 = PF_Iterate8Suite1;

struct PF_Iterate16Suite1 {
    PF_Iterate16Fn iterate;
    PF_IterateOrigin16Fn iterate_origin;
    PF_IterateOrigin16Fn iterate_origin_non_clip_src;
};
using PF_Iterate16Suite2 = PF_Iterate16Suite1;

struct PF_HandleSuite1 {
    PF_Handle (*host_new_handle)(std::uint64_t size);
    void* (*host_lock_handle)(PF_Handle);
    void (*host_unlock_handle)(PF_Handle);
    void (*host_dispose_handle)(PF_Handle);
    std::uint64_t (*host_get_handle_size)(PF_Handle);
    PF_Err (*host_resize_handle)(std::uint64_t, PF_Handle*);
};

// ---- command records -------------------------------------------------------

struct PF_InData {
    PF_InteractCallbacks inter;
    PF_UtilCallbacks* utils;
    PF_ProgPtr effect_ref;
    PF_Quality quality;
    PF_SpecVersion version;
    std::int32_t serial_num;
    std::int32_t appl_id;
    std::int32_t num_params;
    std::int32_t reserved;
    std::int32_t what_cpu;
    std::int32_t what_fpu;
    std::int32_t current_time;
    std::int32_t time_step;
    std::int32_t total_time;
    std::int32_t local_time_step;
    std::uint32_t time_scale;
    PF_Field field;
    PF_Fixed shutter_angle;
    std::int32_t width;
    std::int32_t height;
    PF_LRect extent_hint;
    std::int32_t output_origin_x;
    std::int32_t output_origin_y;
    PF_RationalScale downsample_x;
    PF_RationalScale downsample_y;
    PF_RationalScale pixel_aspect_ratio;
    PF_InFlags in_flags;
    PF_Handle global_data;
    PF_Handle sequence_data;
    PF_Handle frame_data;
    std::int32_t start_sampL;
    std::int32_t dur_sampL;
    std::int32_t total_sampL;
    PF_SoundWorld src_snd;
    SPBasicSuite* pica_basicP;
    std::int32_t pre_effect_source_origin_x;
    std::int32_t pre_effect_source_origin_y;
    PF_Fixed shutter_phase;
};

struct PF_OutData {
    std::uint32_t my_version;
    char name[32];
    PF_Handle global_data;
    std::int32_t num_params;
    PF_Handle sequence_data;
    std::int32_t flat_sdata_size;
    PF_Handle frame_data;
    std::int32_t width;
    std::int32_t height;
    PF_Point origin;
    PF_OutFlags out_flags;
    char return_msg[256];
    std::int32_t start_sampL;
    std::int32_t dur_sampL;
    PF_SoundWorld dest_snd;
    PF_OutFlags2 out_flags2;
};

// ---- entry points ----------------------------------------------------------

using PF_FilterProc = PF_Err (*)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                 PF_ParamDef* params[], PF_LayerDef* output, void* extra);

using PF_PluginDataCB = A_Err (*)(PF_PluginDataPtr inPtr, const A_u_char* inNamePtr,
                                  const A_u_char* inMatchNamePtr,
                                  const A_u_char* inCategoryPtr,
                                  const A_u_char* inEntryPointNamePtr, std::int32_t inkind,
                                  std::int32_t inApiVersionMajor,
                                  std::int32_t inApiVersionMinor,
                                  std::int32_t inReservedInfo);

using PluginDataEntryFunctionPtr = A_Err (*)(PF_PluginDataPtr inPtr,
                                             PF_PluginDataCB inPluginDataCallBackPtr,
                                             SPBasicSuite* inSPBasicSuitePtr,
                                             const char* inHostName,
                                             const char* inHostVersion);

}  // extern "C"

// ---- constants -------------------------------------------------------------

enum : PF_Cmd {
    PF_Cmd_ABOUT = 0,
    PF_Cmd_GLOBAL_SETUP = 1,
    PF_Cmd_UNUSED_0 = 2,
    PF_Cmd_GLOBAL_SETDOWN = 3,
    PF_Cmd_PARAMS_SETUP = 4,
    PF_Cmd_SEQUENCE_SETUP = 5,
    PF_Cmd_SEQUENCE_RESETUP = 6,
    PF_Cmd_SEQUENCE_FLATTEN = 7,
    PF_Cmd_SEQUENCE_SETDOWN = 8,
    PF_Cmd_DO_DIALOG = 9,
    PF_Cmd_FRAME_SETUP = 10,
    PF_Cmd_RENDER = 11,
    PF_Cmd_FRAME_SETDOWN = 12,
    PF_Cmd_NUM_CMDS = 34,
};

enum : PF_Err {
    PF_Err_NONE = 0,
    PF_Err_OUT_OF_MEMORY = 4,
    PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
    PF_Err_INVALID_INDEX = 513,
    PF_Err_UNRECOGNIZED_PARAM_TYPE = 514,
    PF_Err_INVALID_CALLBACK = 515,
    PF_Err_BAD_CALLBACK_PARAM = 516,
    PF_Interrupt_CANCEL = 517,
    PF_Err_CANNOT_PARSE_KEYFRAME_TEXT = 518,
};

enum : SPErr {
    kSPNoError = 0,
    kSPSuiteNotFoundError = 0x53214664,  // 'S!Fd'
};

enum : PF_OutFlags {
    PF_OutFlag_NONE = 0,
    PF_OutFlag_DEEP_COLOR_AWARE = 0x02000000,
};

enum : PF_WorldFlags {
    PF_WorldFlag_DEEP = 1,
    PF_WorldFlag_WRITEABLE = 2,
};

enum : PF_ParamType {
    PF_Param_LAYER = 0,
    PF_Param_POPUP = 7,
    PF_Param_FLOAT_SLIDER = 10,
};

enum : std::int16_t {
    PF_Precision_INTEGER = 0,
    PF_Precision_TENTHS = 1,
    PF_Precision_HUNDREDTHS = 2,
    PF_Precision_THOUSANDTHS = 3,
};

enum : std::int32_t {
    PF_Stage_DEVELOP = 0,
    PF_Stage_ALPHA = 1,
    PF_Stage_BETA = 2,
    PF_Stage_RELEASE = 3,
};

// A four-character code packed with its first character most significant.
constexpr std::uint32_t FourCharCode(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) |
           (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

constexpr std::uint32_t PF_Version(std::uint32_t vers, std::uint32_t subvers,
                                   std::uint32_t bugvers, std::uint32_t stage,
                                   std::uint32_t build) {
    return ((vers >> 3 & 0xF) << 26) | ((vers & 0x7) << 19) | ((subvers & 0xF) << 15) |
           ((bugvers & 0xF) << 11) | ((stage & 0x3) << 9) | (build & 0x1FF);
}

constexpr std::int32_t PF_MAX_CHAN8 = 255;
constexpr std::int32_t PF_MAX_CHAN16 = 32768;
constexpr std::int32_t PF_MAX_EFFECT_PARAM_NAME_LEN = 31;
constexpr std::int32_t PF_MAX_EFFECT_MSG_LEN = 255;
constexpr std::int32_t PF_Iterations_ONCE_PER_PROCESSOR = -1;

constexpr const char* kSPBasicSuite = "SP Basic Suite";
constexpr const char* kPFANSISuite = "PF ANSI Suite";
constexpr const char* kPFIterate8Suite = "PF Iterate8 Suite";
constexpr const char* kPFIterate16Suite = "PF iterate16 Suite";
constexpr std::int32_t kPFANSISuiteVersion1 = 1;
constexpr std::int32_t kPFIterate8SuiteVersion1 = 1;
constexpr std::int32_t kPFIterate16SuiteVersion1 = 1;

#include "api/host_layout_checks.h"
