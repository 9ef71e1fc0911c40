#include "workspace/products_shortcut.h"

#include "platform/ini_file.h"

namespace tarlo {

QString productPageAddress() {
    return QStringLiteral(TARLO_PRODUCT_URL);
}

void writeProductsShortcut(const QString& folder) {
    writeIniValue(folder + QStringLiteral("PRODUCTS.url"), QStringLiteral("InternetShortcut"),
                  QStringLiteral("URL"), productPageAddress());
}

}  // namespace tarlo
