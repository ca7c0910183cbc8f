// Writing the user's edits of the inventory back: bit 1 of Flags for cards and ports marked
// modified, deletion of the keys of those marked for removal. Every write is wrapped in a
// temporary grant of full access to the key.
#pragma once

int SaveCards();    // 1 nothing to write, 2 written, -1 key problem, -2 write failed
int SavePorts();
int RemovePorts();  // 1 nothing to delete, 2 deleted, -4 failed
int RemoveCards();  // ports first, then the card key
