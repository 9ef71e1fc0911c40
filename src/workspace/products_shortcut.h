// PRODUCTS.url, the Internet shortcut to the product page that every close
// writes into ProgramFolder.
#pragma once

#include <QString>

namespace tarlo {

QString productPageAddress();

// Sets URL in section InternetShortcut of folder + "PRODUCTS.url". Throws
// Error "<path> に書き込めません" when the file cannot be written.
void writeProductsShortcut(const QString& folder);

}  // namespace tarlo
