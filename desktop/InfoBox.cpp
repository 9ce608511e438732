#include "desktop/InfoBox.h"

#include "desktop/AppInfo.h"

#include <QMessageBox>
#include <utility>

namespace {

InfoBox::Hook& currentHook()
{
    static InfoBox::Hook hook;
    return hook;
}

} // namespace

void InfoBox::show(QWidget* parent, const QString& text)
{
    if (const Hook& hook = currentHook()) {
        hook(AppInfo::title(), text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, AppInfo::title(), text, QMessageBox::Ok, parent);
    box.exec();
}

InfoBox::Hook InfoBox::setHook(Hook hook)
{
    return std::exchange(currentHook(), std::move(hook));
}
