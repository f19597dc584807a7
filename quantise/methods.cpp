#include "quantise/methods.h"

#include <iterator>

namespace kovrel {
namespace {

template <typename Row, std::size_t kCount>
std::string nameList(const Row (&rows)[kCount]) {
  std::string list;
  for (std::size_t i = 0; i < kCount; ++i) {
    list += i == 0 ? "" : (i + 1 == kCount ? " or " : ", ");
    list += rows[i].name;
  }
  return list;
}

}  // namespace

bool methodOfName(const std::string& name, Method& method) {
  for (const MethodName& row : kMethodNames) {
    if (name == row.name) {
      method = row.method;
      return true;
    }
  }
  return false;
}

bool kernelOfName(const std::string& name, ErrorKernel& kernel) {
  for (const KernelName& row : kKernelNames) {
    if (name == row.name) {
      kernel = row.kernel;
      return true;
    }
  }
  return false;
}

const char* methodName(Method method) {
  for (const MethodName& row : kMethodNames) {
    if (row.method == method) {
      return row.name;
    }
  }
  return "?";
}

const char* kernelName(ErrorKernel kernel) {
  for (const KernelName& row : kKernelNames) {
    if (row.kernel == kernel) {
      return row.name;
    }
  }
  return "?";
}

std::string methodNameList() { return nameList(kMethodNames); }
std::string kernelNameList() { return nameList(kKernelNames); }

}  // namespace kovrel
