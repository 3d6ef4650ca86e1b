// A contact sheet: one input rendered under many settings, in a labelled
// grid. Every cell is the exact render of one downscaled copy of the input at
// the cell's size, so a cell shows what the look does at that size.
#pragma once

#include <string>
#include <vector>

#include "cli/effect/effect_params.h"
#include "cli/effect/effect_renderer.h"
#include "cli/images/image_io.h"

namespace velvetshade {

// One parameter stepped along the rows or the columns of the sheet.
struct SheetAxis {
    std::string name;                 // the parameter's registered name
    std::vector<std::string> values;  // as ApplySettings reads them
    std::vector<std::string> labels;  // as the cells show them
};

// "NAME=FROM:TO:STEPS" (steps evenly from FROM to TO, both included; a
// pop-up's steps by item, FROM and TO as item text or number, STEPS
// optional) or "NAME=A,B,C" (the values listed).
bool ParseVary(const std::string& text, const std::vector<ParamInfo>& params, SheetAxis& axis,
               std::string& error);

// Every item of a pop-up.
SheetAxis PopupAxis(const ParamInfo& param);

// Where everything lies on the sheet.
struct SheetLayout {
    int cell_width = 0, cell_height = 0;
    int rows = 0, columns = 0;
    int gap = 0;           // around and between the cells
    int label_height = 0;  // the strip under each cell

    int width() const { return gap + columns * (cell_width + gap); }
    int height() const { return gap + rows * (cell_height + label_height + gap); }
    int cell_x(int column) const { return gap + column * (cell_width + gap); }
    int cell_y(int row) const { return gap + row * (cell_height + label_height + gap); }
};

// Cells of cell_width (the height keeping the input's aspect; never larger
// than the input), count cells in rows of columns.
SheetLayout MakeLayout(int input_width, int input_height, int cell_width, int rows, int columns);

// Renders the sheet: rows x columns cells (columns.values empty: one axis,
// wrapped in rows of layout.columns cells). base: the settings every cell
// gets first. The sheet has the input's depth and no alpha.
bool MakeContactSheet(EffectRenderer& effect, const Image& input, const SheetLayout& layout,
                      const SheetAxis& rows, const SheetAxis& columns, const std::vector<ParamSetting>& base,
                      int threads, Image& sheet, std::string& error);

}  // namespace velvetshade
