// Resource ids of the terms dialog, shared by its resource script and its code.
#pragma once

// The two 14 x 14 sort arrows of the column header side by side: up (ascending), down.
#define IDB_HEADER_ARROWS 201
