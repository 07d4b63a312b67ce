// The one place that sets the version both programs carry in their resources.
#pragma once

#define QORVEL_VERSION_BINARY 1, 1, 0, 1
#define QORVEL_VERSION_TEXT "1.01.0001"
#define QORVEL_PRODUCT_NAME "Morvane"
#define QORVEL_COMPANY_NAME "Morvane"
