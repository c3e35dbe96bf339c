#include "placement.h"

#include <algorithm>

namespace forms {

namespace {

// The client's coordinate along one axis: its origin, pulled in from the far edge first
// and then from the near one, so that the near edge wins when both cannot hold.
int fit(int origin, int client, int nearFrame, int farFrame, int areaStart, int areaLength)
{
    const int lowest = areaStart + nearFrame;
    const int highest = areaStart + areaLength - farFrame - client;
    return std::max(lowest, std::min(origin, highest));
}

} // namespace

QPoint clientPosition(QPoint origin, QSize client, QMargins frame, QRect available)
{
    return {fit(origin.x(), client.width(), frame.left(), frame.right(), available.x(), available.width()),
            fit(origin.y(), client.height(), frame.top(), frame.bottom(), available.y(), available.height())};
}

} // namespace forms
