#pragma once

#include "errors/database_exception.h"
#include "storage/data_type.h"

// Creates the instance of a per-type class template for the storage type of
// a DATA_TYPE: LONG -> long, INT -> int, SHORT -> short, DOUBLE -> double,
// FLOAT -> float, BOOL -> bool, DATE -> unsigned short, constructed from
// args. The caller casts the result to the template's common base class and
// owns it. Text has classes of its own: STRING, like any value outside the
// enumeration, throws DatabaseException "Unknown data type provided" and
// nothing is allocated.
template <template <typename> class C, typename... Args>
void* createTemplatedClass(DATA_TYPE type, Args... args) {
  switch (type) {
    case LONG:
      return new C<long>(args...);
    case INT:
      return new C<int>(args...);
    case SHORT:
      return new C<short>(args...);
    case DOUBLE:
      return new C<double>(args...);
    case FLOAT:
      return new C<float>(args...);
    case BOOL:
      return new C<bool>(args...);
    case DATE:
      return new C<unsigned short>(args...);
    case STRING:
      break;
  }
  throw DatabaseException("Unknown data type provided");
}
