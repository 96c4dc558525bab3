#include "ostraui/browserlink.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace ostra {

bool openInBrowser(QWidget *parent, const QUrl &url)
{
    if (QDesktopServices::openUrl(url))
        return true;
    auto *box = new QMessageBox(QMessageBox::Information,
                                QCoreApplication::translate("ostra::BrowserLink", "No browser opened"),
                                QCoreApplication::translate("ostra::BrowserLink",
                                                            "No web browser could be opened on this PC. Open this "
                                                            "address in one yourself:\n\n%1")
                                    .arg(url.toString()),
                                QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("noBrowserBox"));
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return false;
}

} // namespace ostra
