// For a program that starts often and rarely meets HEIF, JPEG 2000 or JPEG
// XL pictures (the command line): each function of those libraries that the
// readers call is a stub here, so the program is linked without them
// (--as-needed) and a library is loaded the first time one of its
// functions is called. Loading them and the codecs they pull in made up
// most of the program's start.
//
// A stub jumps through its slot. The slot first holds a resolver that keeps
// the argument registers, finds the real function, stores it in the slot
// and jumps there; later calls go straight through. A function missing
// from the list below makes the linker keep its library: correct, only no
// longer deferred.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

#define QUORVEX_LIBRARIES(X)         \
  X(heif, QUORVEX_SONAME_heif)       \
  X(openjp2, QUORVEX_SONAME_openjp2) \
  X(jxl, QUORVEX_SONAME_jxl)         \
  X(jxl_threads, QUORVEX_SONAME_jxl_threads)

#define QUORVEX_FUNCTIONS(X)                                     \
  X(heif, heif_init)                                             \
  X(heif, heif_context_alloc)                                    \
  X(heif, heif_context_free)                                     \
  X(heif, heif_context_get_primary_image_handle)                 \
  X(heif, heif_context_read_from_memory_without_copy)            \
  X(heif, heif_context_set_maximum_image_size_limit)             \
  X(heif, heif_decode_image)                                     \
  X(heif, heif_decoding_options_alloc)                           \
  X(heif, heif_decoding_options_free)                            \
  X(heif, heif_image_get_bits_per_pixel)                         \
  X(heif, heif_image_get_bits_per_pixel_range)                   \
  X(heif, heif_image_get_height)                                 \
  X(heif, heif_image_get_plane_readonly)                         \
  X(heif, heif_image_get_width)                                  \
  X(heif, heif_image_handle_get_height)                          \
  X(heif, heif_image_handle_get_luma_bits_per_pixel)             \
  X(heif, heif_image_handle_get_width)                           \
  X(heif, heif_image_handle_has_alpha_channel)                   \
  X(heif, heif_image_handle_release)                             \
  X(heif, heif_image_release)                                    \
  X(openjp2, opj_codec_set_threads)                              \
  X(openjp2, opj_create_decompress)                              \
  X(openjp2, opj_decode)                                         \
  X(openjp2, opj_destroy_codec)                                  \
  X(openjp2, opj_end_decompress)                                 \
  X(openjp2, opj_get_num_cpus)                                   \
  X(openjp2, opj_image_destroy)                                  \
  X(openjp2, opj_read_header)                                    \
  X(openjp2, opj_set_default_decoder_parameters)                 \
  X(openjp2, opj_set_error_handler)                              \
  X(openjp2, opj_set_info_handler)                               \
  X(openjp2, opj_set_warning_handler)                            \
  X(openjp2, opj_setup_decoder)                                  \
  X(openjp2, opj_stream_create)                                  \
  X(openjp2, opj_stream_destroy)                                 \
  X(openjp2, opj_stream_set_read_function)                       \
  X(openjp2, opj_stream_set_seek_function)                       \
  X(openjp2, opj_stream_set_skip_function)                       \
  X(openjp2, opj_stream_set_user_data)                           \
  X(openjp2, opj_stream_set_user_data_length)                    \
  X(jxl, JxlDecoderCloseInput)                                   \
  X(jxl, JxlDecoderCreate)                                       \
  X(jxl, JxlDecoderDestroy)                                      \
  X(jxl, JxlDecoderGetBasicInfo)                                 \
  X(jxl, JxlDecoderProcessInput)                                 \
  X(jxl, JxlDecoderSetImageOutBitDepth)                          \
  X(jxl, JxlDecoderSetImageOutCallback)                          \
  X(jxl, JxlDecoderSetInput)                                     \
  X(jxl, JxlDecoderSetParallelRunner)                            \
  X(jxl, JxlDecoderSubscribeEvents)                              \
  X(jxl_threads, JxlThreadParallelRunner)                        \
  X(jxl_threads, JxlThreadParallelRunnerCreate)                  \
  X(jxl_threads, JxlThreadParallelRunnerDefaultNumWorkerThreads) \
  X(jxl_threads, JxlThreadParallelRunnerDestroy)

enum TLibrary {
#define QUORVEX_LIBRARY_ENUM(id, file) k_##id,
  QUORVEX_LIBRARIES(QUORVEX_LIBRARY_ENUM)
#undef QUORVEX_LIBRARY_ENUM
      kLibraryCount
};

constexpr const char* kLibraryFiles[] = {
#define QUORVEX_LIBRARY_FILE(id, file) file,
    QUORVEX_LIBRARIES(QUORVEX_LIBRARY_FILE)
#undef QUORVEX_LIBRARY_FILE
};

}  // namespace

// What the resolver is handed: the stub's slot (read by the stub), then
// which function of which library it stands for.
struct TLazyFunction {
  void* slot;
  long library;
  const char* name;
};

extern "C" __attribute__((used, visibility("hidden"))) void* quorvex_resolve_codec_function(
    TLazyFunction* function) {
  static std::mutex lock;
  static void* handles[kLibraryCount] = {};
  const std::lock_guard<std::mutex> guard(lock);
  void*& handle = handles[function->library];
  // Never closed: the functions stay in use until the process ends.
  if (!handle) handle = ::dlopen(kLibraryFiles[function->library], RTLD_NOW | RTLD_LOCAL);
  void* address = handle ? ::dlsym(handle, function->name) : nullptr;
  if (!address) {
    // The same end as when the dynamic loader misses a library at start-up:
    // the installation is broken, no picture is to blame.
    std::fprintf(stderr, "quorvex: cannot load %s from %s: %s\n", function->name,
                 kLibraryFiles[function->library], ::dlerror());
    std::_Exit(127);
  }
  __atomic_store_n(&function->slot, address, __ATOMIC_RELEASE);
  return address;
}

// Keeps every argument register (general and vector) across the call of
// the resolver, whose record comes in r11; jumps on to the function found.
asm(R"(
  .text
  .p2align 4
  .type quorvex_codec_resolve_entry, @function
quorvex_codec_resolve_entry:
  pushq %rbp
  movq %rsp, %rbp
  pushq %rdi
  pushq %rsi
  pushq %rdx
  pushq %rcx
  pushq %r8
  pushq %r9
  pushq %rax
  subq $136, %rsp
  movdqu %xmm0, 0(%rsp)
  movdqu %xmm1, 16(%rsp)
  movdqu %xmm2, 32(%rsp)
  movdqu %xmm3, 48(%rsp)
  movdqu %xmm4, 64(%rsp)
  movdqu %xmm5, 80(%rsp)
  movdqu %xmm6, 96(%rsp)
  movdqu %xmm7, 112(%rsp)
  movq %r11, %rdi
  call quorvex_resolve_codec_function
  movq %rax, %r11
  movdqu 0(%rsp), %xmm0
  movdqu 16(%rsp), %xmm1
  movdqu 32(%rsp), %xmm2
  movdqu 48(%rsp), %xmm3
  movdqu 64(%rsp), %xmm4
  movdqu 80(%rsp), %xmm5
  movdqu 96(%rsp), %xmm6
  movdqu 112(%rsp), %xmm7
  addq $136, %rsp
  popq %rax
  popq %r9
  popq %r8
  popq %rcx
  popq %rdx
  popq %rsi
  popq %rdi
  popq %rbp
  jmp *%r11
  .size quorvex_codec_resolve_entry, .-quorvex_codec_resolve_entry
)");

// The library's number as text for the stubs' records.
#define QUORVEX_INDEX_heif 0
#define QUORVEX_INDEX_openjp2 1
#define QUORVEX_INDEX_jxl 2
#define QUORVEX_INDEX_jxl_threads 3
static_assert(k_heif == 0 && k_openjp2 == 1 && k_jxl == 2 && k_jxl_threads == 3);
#define QUORVEX_STRING(x) #x
#define QUORVEX_NUMBER(x) QUORVEX_STRING(x)
#define QUORVEX_STUB(library, name) \
  asm(".text\n"                                                                 \
      ".p2align 4\n"                                                            \
      ".globl " #name "\n"                                                      \
      ".hidden " #name "\n"                                                     \
      ".type " #name ", @function\n" #name ":\n"                                \
      "  jmp *quorvex_lazy_" #name "(%rip)\n"                                   \
      ".size " #name ", .-" #name "\n"                                          \
      "quorvex_first_" #name ":\n"                                              \
      "  leaq quorvex_lazy_" #name "(%rip), %r11\n"                             \
      "  jmp quorvex_codec_resolve_entry\n"                                     \
      ".data\n"                                                                 \
      ".p2align 3\n"                                                            \
      "quorvex_lazy_" #name ":\n"                                               \
      "  .quad quorvex_first_" #name "\n"                                       \
      "  .quad " QUORVEX_NUMBER(QUORVEX_INDEX_##library) "\n"                               \
      "  .quad quorvex_name_" #name "\n"                                        \
      ".section .rodata\n"                                                      \
      "quorvex_name_" #name ": .asciz \"" #name "\"\n"                          \
      ".text\n");

QUORVEX_FUNCTIONS(QUORVEX_STUB)
