// The search kernel for x86-64 with AVX-512F, chosen at run time.
#define KOVREL_KERNEL_NAMESPACE avx512
#define KOVREL_KERNEL_TARGET __attribute__((target("avx512f")))
#define KOVREL_KERNEL_LANES 16
#define KOVREL_KERNEL_ISA KOVREL_ISA_AVX512
#include "quantise/line_search_kernel.inc"
#include "quantise/diffusion_kernel.inc"
