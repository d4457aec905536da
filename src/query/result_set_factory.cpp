#include "query/result_set_factory.h"

ResultSetFactory::ResultSetFactory(Database& database) : database_(database) {}

ResultSetFactory::~ResultSetFactory() { clear(); }

void ResultSetFactory::clear() {}
