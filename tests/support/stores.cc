#include "tests/support/stores.h"

#include "block/block.h"

void StoresTest::SetUp() { resetStores(); }
void StoresTest::TearDown() { resetStores(); }
