// The property lists that lay out a FLAC file in Explorer: the Details pane
// (PreviewDetails), the Properties dialog (FullDetails), the tooltip
// (InfoTip) and the tile (ExtendedTileInfo). They name every property the
// handler offers, tags first, from the table of property names.
#pragma once

#include <string>

std::wstring PreviewDetailsList();
std::wstring FullDetailsList();
std::wstring InfoTipList();
std::wstring ExtendedTileInfoList();
