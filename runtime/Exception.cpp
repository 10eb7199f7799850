#include "runtime/Exception.h"

#include <new>

std::string ExceptionMessage(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const Exception& x) {
    return x.Message();
  } catch (const std::bad_alloc&) {
    return "Out of memory";
  } catch (const std::exception& x) {
    return x.what();
  } catch (...) {
    return "";
  }
}

std::string ExceptionClassName(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const Exception& x) {
    return x.ClassName();
  } catch (const std::bad_alloc&) {
    return "EOutOfMemory";
  } catch (...) {
    return "Exception";
  }
}
