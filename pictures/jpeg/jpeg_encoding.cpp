#include "pictures/jpeg/jpeg_encoding.h"

#include <algorithm>
#include <cstring>

#include "pictures/jpeg/jpeg_codec.h"

namespace sigillon {

int JpegEncoding::MaxHSampling() const {
    int most = 1;
    for (int i = 0; i < components; ++i) most = std::max(most, component[std::size_t(i)].hSampling);
    return most;
}

int JpegEncoding::MaxVSampling() const {
    int most = 1;
    for (int i = 0; i < components; ++i) most = std::max(most, component[std::size_t(i)].vSampling);
    return most;
}

namespace jpeg_codec {

JpegEncoding EncodingOf(const jpeg_decompress_struct& c) {
    JpegEncoding e;
    e.colorSpace = c.jpeg_color_space;
    e.components = std::min(c.num_components, 4);
    for (int i = 0; i < e.components; ++i) {
        const jpeg_component_info& from = c.comp_info[i];
        e.component[std::size_t(i)] = {from.component_id, from.h_samp_factor, from.v_samp_factor,
                                       from.quant_tbl_no};
    }
    for (std::size_t slot = 0; slot < 4; ++slot) {
        if (!c.quant_tbl_ptrs[slot]) continue;
        e.hasTable[slot] = true;
        std::copy_n(c.quant_tbl_ptrs[slot]->quantval, 64, e.tables[slot].begin());
    }
    e.progressive = c.progressive_mode;
    e.arithmetic = c.arith_code;
    e.restartInterval = c.restart_interval;
    return e;
}

void ApplyEncoding(j_compress_ptr c, const JpegEncoding& e) {
    // Sets the component count and the markers (JFIF or Adobe) for the space.
    jpeg_set_colorspace(c, J_COLOR_SPACE(e.colorSpace));
    for (std::size_t slot = 0; slot < 4; ++slot) {
        if (!e.hasTable[slot]) continue;
        JQUANT_TBL*& table = c->quant_tbl_ptrs[slot];
        if (!table) table = jpeg_alloc_quant_table(reinterpret_cast<j_common_ptr>(c));
        std::copy_n(e.tables[slot].begin(), 64, table->quantval);
        table->sent_table = FALSE;
    }
    for (int i = 0; i < std::min(c->num_components, e.components); ++i) {
        const JpegEncoding::Component& from = e.component[std::size_t(i)];
        jpeg_component_info& to = c->comp_info[i];
        to.component_id = from.id;
        to.h_samp_factor = from.hSampling;
        to.v_samp_factor = from.vSampling;
        to.quant_tbl_no = from.table;
    }
    ApplyCoding(c, e);
}

void ApplyCoding(j_compress_ptr c, const JpegEncoding& e) {
    c->arith_code = e.arithmetic ? TRUE : FALSE;
    c->restart_interval = e.restartInterval;
    c->restart_in_rows = 0;
    // libjpeg's own scan script: a file's own script is not kept.
    if (e.progressive) jpeg_simple_progression(c);
}

}  // namespace jpeg_codec
}  // namespace sigillon
