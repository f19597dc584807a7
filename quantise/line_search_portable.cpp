// The search kernel for any processor; the compiler maps the lanes to
// whatever vector unit it targets, or to plain registers. Built for
// WebAssembly with SIMD (-msimd128), the lane masks and table look-ups use
// its instructions.
#define KOVREL_KERNEL_NAMESPACE portable
#define KOVREL_KERNEL_TARGET
#define KOVREL_KERNEL_LANES 4
#if defined(__wasm_simd128__)
#define KOVREL_KERNEL_ISA KOVREL_ISA_WASM_SIMD
#else
#define KOVREL_KERNEL_ISA KOVREL_ISA_GENERIC
#endif
#include "quantise/line_search_kernel.inc"
#include "quantise/diffusion_kernel.inc"
