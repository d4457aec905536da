#include "storage/table_config.h"

TableConfig::TableConfig() : nodes(BranchComparator{&branches}) {}
