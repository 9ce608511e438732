#include "lan/LanLink.h"

#include "app/NirvexMain.h"
#include "app/frmMain.h"

#include <algorithm>

LanLink::LanLink(NirvexMain& app, frmMain& form) : app(app), form(form) {}

void LanLink::FlushData()
{
    if (app.SendCount <= 0)
        return;
    if (app.DestMode == 3 && !form.Authenticated)
        return;
    const int count = std::min<int>(app.SendCount, int(app.SendBuffer.size()));
    emit dataFlushed(QByteArray(reinterpret_cast<const char*>(app.SendBuffer.data()), count));
    app.SendCount = 0;
}

void LanLink::SendControl(int signal, bool state)
{
    FlushData();
    if (signal != 1 && signal != 2)
        return;
    emit controlSent(signal, state);
}

void LanLink::OpenLan(bool force)
{
    Q_UNUSED(force);
}

void LanLink::CloseLan() {}
