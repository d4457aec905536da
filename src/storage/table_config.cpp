// TableConfig: the node set orders nodes by their branch paths, read from the
// table's own path store.

#include "storage/table_config.h"

TableConfig::TableConfig() : nodes(BranchComparator{&branches}) {}
