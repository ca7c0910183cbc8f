#include "ui/device_rules.h"

ItemKind KindOf(int code)
{
    if (code == 0) return ItemKind::None;
    return code / kPortItemBase != 0 ? ItemKind::Port : ItemKind::Card;
}

CardEntry* CardOf(int code)
{
    if (KindOf(code) != ItemKind::Card) return nullptr;
    const int index = code - kCardItemBase;
    return index >= 0 && index < static_cast<int>(CardList.size()) ? &CardList[index] : nullptr;
}

PortEntry* PortOf(int code)
{
    if (KindOf(code) != ItemKind::Port) return nullptr;
    const int index = code - kPortItemBase;
    return index >= 0 && index < static_cast<int>(PortList.size()) ? &PortList[index] : nullptr;
}

bool IsListed(int present, int remove, bool showUnavailable)
{
    return (present || showUnavailable) && !remove;
}

int CardImage(const CardEntry& card)
{
    if (!card.present) return kImageCardAbsent;
    if (card.error) return kImageCardError;
    return card.enabled ? kImageCard : kImageCardDisabled;
}

int PortImageUnderPorts(const PortEntry& port, const CardEntry& holder)
{
    if (!holder.enabled) return kImagePortDisabled;
    if (holder.error) return kImagePortError;
    return port.enabled ? kImagePort : kImagePortDisabled;
}

int PortImageUnderCard(const PortEntry& port, const CardEntry& card)
{
    if (!port.present) return kImagePortAbsent;
    if (port.error || card.error) return kImagePortError;
    if (!card.enabled) return kImagePortDisabled;
    return port.enabled ? kImagePort : kImagePortDisabled;
}

bool CanChange(int code)
{
    if (code == 0) return true;
    if (const CardEntry* card = CardOf(code)) return card->present && card->error == 0;
    const PortEntry* port = PortOf(code);
    if (!port || !port->present || port->error) return false;
    bool holdersAllow = true;
    ForEachHolder(code - kPortItemBase, [&](const CardEntry& card) {
        if (!card.enabled || card.error) holdersAllow = false;
    });
    return holdersAllow;
}
