// One listener per user: a lock in the user's runtime folder, held for the program's life.
#pragma once

// True when this is the only listener of the user; false when another holds the lock.
bool takeInstanceLock();
