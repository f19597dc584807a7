// The search kernel for any processor; the compiler maps the lanes to
// whatever vector unit it targets, or to plain registers.
#define KOVREL_KERNEL_NAMESPACE portable
#define KOVREL_KERNEL_TARGET
#define KOVREL_KERNEL_LANES 4
#define KOVREL_KERNEL_ISA KOVREL_ISA_GENERIC
#include "quantise/line_search_kernel.inc"
