// The search kernel for x86-64 with AVX2, chosen at run time.
#define KOVREL_KERNEL_NAMESPACE avx2
#define KOVREL_KERNEL_TARGET __attribute__((target("avx2")))
#define KOVREL_KERNEL_LANES 8
#define KOVREL_KERNEL_ISA KOVREL_ISA_AVX2
#include "quantise/line_search_kernel.inc"
#include "quantise/diffusion_kernel.inc"
