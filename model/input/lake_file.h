// The lake file: its header card and one LAKE card per lake with the initial
// water-surface elevation and volume. Called by the overland-lake reader and by
// the channel set-up for channel lakes. The low-spot file's reader is declared
// with the other readers (input_readers.h); its card look-up is here.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct lake_record;

enum lake_file_kind : int { overland_lake_kind = 1, channel_lake_kind = 2 };

// 0 when the line's first word is LAKE in any case, else 1; the first word is
// removed from the line either way (an empty line stays empty).
int lake_card_lookup(std::string &line);

// Reads the open lake file of the given kind into records 1..expected_count
// (records must hold expected_count + 1 entries). Messages go to the error
// stream, naming `file_name` where given; every failure stores code 4000 after its
// message. A lake level outside the elevations a surface can have is refused.
void read_lake_file(std::FILE *file, int kind, int expected_count,
                    std::vector<lake_record> &records, const std::string &file_name = "");

// 0 when the line's first word is SPOT in any case, else 1; the first word is
// removed from the line either way.
int lowspot_card_lookup(std::string &line);
