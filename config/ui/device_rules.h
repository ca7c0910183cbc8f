// What the device tree shows for cards and ports, and which devices the user may switch on or
// off. Decided from the inventory alone; no Windows calls here.
#pragma once

#include "data/inventory.h"

// Images of the tree's image list, in bitmap order.
enum TreeImage : int {
    kImageCard = 0,
    kImageCardDisabled = 1,
    kImageCardError = 2,
    kImageCardAbsent = 3,
    kImagePort = 4,
    kImagePortDisabled = 5,
    kImagePortError = 6,
    kImagePortAbsent = 7,
    kTreeImageCount = 8,
};

// Item codes: 0 for roots and other ports, 100 + card index, 1000 + port index.
enum class ItemKind { None, Card, Port };
ItemKind KindOf(int code);
CardEntry* CardOf(int code);  // nullptr unless code names an existing card
PortEntry* PortOf(int code);  // nullptr unless code names an existing port

// Whether an entry is listed in the tree at all.
bool IsListed(int present, int remove, bool showUnavailable);

int CardImage(const CardEntry& card);
// A port under "KT Ports" that is present and has no error, listed once per card holding it.
int PortImageUnderPorts(const PortEntry& port, const CardEntry& holder);
// A port under its card.
int PortImageUnderCard(const PortEntry& port, const CardEntry& card);

// Whether the user may enable or disable the device of code (always for code 0).
bool CanChange(int code);

// Calls visit(card) for every card whose portIndexes hold portIndex.
template <class Visit>
void ForEachHolder(int portIndex, Visit visit)
{
    for (CardEntry& card : CardList)
        for (int32_t index : card.portIndexes)
            if (index == portIndex) {
                visit(card);
                break;
            }
}
