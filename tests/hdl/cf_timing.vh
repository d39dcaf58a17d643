// CF 4.1 True IDE timing, in ns, for the behavioural host and card: PIO
// (CF 4.1 Table 22, PIO5/6 from the CFA values), multiword DMA (Table 23)
// and Ultra DMA (ATA/ATAPI-7, which CF cites for True IDE). Minimums unless
// a name says max. Included inside a module: each side reads the same
// table but keeps its own idea of the mode in force.
//
// Positions in the log are counted in the dump's unit: every file of this
// testbench uses `timescale 1ns/100ps, so the VCD counts 100 ps steps and a
// 1 ms run stays far below 2^32.

localparam real TICKS_PER_NS = 10.0;

function automatic integer pos(input real t);
    return $rtoi(t * TICKS_PER_NS + 0.5);
endfunction

function automatic real max2(input real a, input real b);
    return a > b ? a : b;
endfunction

task automatic wait_until(input real t);
    if (t > $realtime) #(t - $realtime);
endtask

function automatic real pick(input integer m, input real v0, v1, v2, v3, v4, v5, v6);
    case (m)
        0: return v0;
        1: return v1;
        2: return v2;
        3: return v3;
        4: return v4;
        5: return v5;
        default: return v6;
    endcase
endfunction

// ---- PIO, modes 0 to 6 ------------------------------------------------------
function automatic real pio_t0(input integer m);      // cycle, 16-bit DATA
    return pick(m, 600, 383, 240, 180, 120, 100, 80);
endfunction
function automatic real pio_t0_reg(input integer m);  // cycle, 8-bit register (ATA: 330 in mode 2)
    return pick(m, 600, 383, 330, 180, 120, 100, 80);
endfunction
function automatic real pio_t1(input integer m);      // address valid to strobe
    return pick(m, 70, 50, 30, 30, 25, 15, 10);
endfunction
function automatic real pio_t2(input integer m);      // strobe pulse, 16-bit
    return pick(m, 165, 125, 100, 80, 70, 65, 55);
endfunction
function automatic real pio_t2_reg(input integer m);  // strobe pulse, 8-bit
    return pick(m, 290, 290, 290, 80, 70, 65, 55);
endfunction
function automatic real pio_t2i(input integer m);     // strobe recovery (modes 0-2: t0 rules)
    return pick(m, 0, 0, 0, 70, 25, 25, 20);
endfunction
function automatic real pio_t3(input integer m);      // DIOW- data setup
    return pick(m, 60, 45, 30, 30, 20, 20, 15);
endfunction
function automatic real pio_t4(input integer m);      // DIOW- data hold
    return pick(m, 30, 20, 15, 10, 10, 5, 5);
endfunction
function automatic real pio_t5(input integer m);      // DIOR- data setup
    return pick(m, 50, 35, 20, 20, 20, 15, 10);
endfunction
function automatic real pio_t6(input integer m);      // DIOR- data hold
    return 5;
endfunction
function automatic real pio_t9(input integer m);      // address hold
    return pick(m, 20, 15, 10, 10, 10, 10, 10);
endfunction
function automatic real pio_tA(input integer m);      // IORDY setup: the host looks this late
    return 35;
endfunction

// ---- Multiword DMA, modes 0 to 4 --------------------------------------------
function automatic real mw_t0(input integer m);
    return pick(m, 480, 150, 120, 100, 80, 80, 80);
endfunction
function automatic real mw_tD(input integer m);       // strobe pulse
    return pick(m, 215, 80, 70, 65, 55, 55, 55);
endfunction
function automatic real mw_tF(input integer m);       // read data hold
    return 5;
endfunction
function automatic real mw_tG(input integer m);       // data setup to the negation
    return pick(m, 100, 30, 20, 15, 10, 10, 10);
endfunction
function automatic real mw_tH(input integer m);       // write data hold
    return pick(m, 20, 15, 10, 5, 5, 5, 5);
endfunction
function automatic real mw_tJ(input integer m);       // strobe to DMACK- hold
    return pick(m, 20, 5, 5, 5, 5, 5, 5);
endfunction
function automatic real mw_tKR(input integer m);      // DIOR- negated pulse
    return pick(m, 50, 50, 25, 25, 20, 20, 20);
endfunction
function automatic real mw_tKW(input integer m);      // DIOW- negated pulse
    return pick(m, 215, 50, 25, 25, 20, 20, 20);
endfunction
function automatic real mw_tLR(input integer m);      // DIOR- to DMARQ negation, max
    return pick(m, 120, 40, 35, 35, 35, 35, 35);
endfunction
function automatic real mw_tLW(input integer m);      // DIOW- to DMARQ negation, max
    return pick(m, 40, 40, 35, 35, 35, 35, 35);
endfunction
function automatic real mw_tM(input integer m);       // CS/DMACK- valid to strobe
    return pick(m, 50, 30, 25, 10, 5, 5, 5);
endfunction

// ---- Ultra DMA, modes 0 to 6 ------------------------------------------------
function automatic real ud_cycle(input integer m);    // the pace both sides keep: t2CYCTYP / 2
    return pick(m, 120, 80, 60, 45, 30, 20, 15);
endfunction
function automatic real ud_tDVS(input integer m);     // data valid setup at the sender
    return pick(m, 70, 48, 31, 20, 6.7, 4.8, 4.0);
endfunction
function automatic real ud_tDVH(input integer m);     // data valid hold at the sender
    return pick(m, 6.2, 6.2, 6.2, 6.2, 6.2, 4.8, 4.0);
endfunction
function automatic real ud_tCVS(input integer m);     // CRC valid setup at the host
    return pick(m, 70, 48, 31, 20, 6.7, 10, 10);
endfunction
function automatic real ud_tCVH(input integer m);     // CRC valid hold at the host
    return pick(m, 6.2, 6.2, 6.2, 6.2, 6.2, 10, 10);
endfunction
function automatic real ud_tDZFS(input integer m);    // data driven to the first strobe edge
    return pick(m, 70, 48, 31, 20, 6.7, 25, 17.5);
endfunction
function automatic real ud_tFS(input integer m);      // first DSTROBE, max
    return pick(m, 230, 200, 170, 130, 120, 90, 80);
endfunction
function automatic real ud_tLI(input integer m);      // limited interlock, max
    return pick(m, 150, 150, 150, 100, 100, 75, 60);
endfunction
function automatic real ud_tMLI(input integer m);     // interlock with minimum
    return 20;
endfunction
function automatic real ud_tAZ(input integer m);      // output release, max
    return 10;
endfunction
function automatic real ud_tZAH(input integer m);     // delay before driving after a release
    return 20;
endfunction
function automatic real ud_tRFS(input integer m);     // ready to final strobe, max
    return pick(m, 75, 70, 60, 60, 60, 50, 50);
endfunction
function automatic real ud_tRP(input integer m);      // ready to pause
    return pick(m, 160, 125, 100, 100, 100, 85, 85);
endfunction
function automatic real ud_tACK(input integer m);     // DMACK- setup and hold
    return 20;
endfunction
function automatic real ud_tSS(input integer m);      // last strobe edge to STOP / DMARQ negation
    return 50;
endfunction
// How long a sender takes to see that the recipient has paused it. Below
// mode 3 it sees it at once; in the fast modes its pipeline still puts out
// the edge already on its way, one more word, well inside tRFS.
function automatic real ud_react(input integer m);
    return m >= 3 ? 25 : 0;
endfunction

// ---- Ultra DMA CRC ----------------------------------------------------------
// x^16 + x^12 + x^5 + 1, seeded with 4ABAh at each burst, every word of the
// burst folded in from DD0 up.
localparam [15:0] UDMA_CRC_SEED = 16'h4ABA;

function automatic [15:0] udma_crc(input [15:0] crc, input [15:0] word);
    integer i;
    reg feedback;
    for (i = 0; i < 16; i = i + 1) begin
        feedback = crc[15] ^ word[i];
        crc = {crc[14:0], 1'b0};
        if (feedback) crc = crc ^ 16'h1021;
    end
    return crc;
endfunction
