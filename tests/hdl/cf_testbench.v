`timescale 1ns/100ps
// The testbench: the behavioural host (ata_host) and card (cf_card) on one
// True IDE cable (tb.cable), and the driver's script: resets, IDENTIFY
// DEVICE, SET FEATURES 03h into PIO0/PIO4, MWDMA0/MWDMA2 and UDMA2/UDMA5
// (and one the card refuses), READ/WRITE SECTORS, READ/WRITE DMA by
// multiword DMA and by Ultra DMA with host and card pauses and terminations.
// Every write is read back and checked by the host.
//
//   vvp cf_testbench.vvp +vcd=FILE +log=FILE
//
// The VCD holds the whole design as Icarus dumps it (nested scopes, vectors,
// z where nobody drives); the log is the host's account of every cycle
// (ata_host.v describes it).

// The cable, with the host's resistors: IORDY pulled up (the card only
// pulls it low, except in Ultra DMA), DMARQ and INTRQ pulled down, DD7
// pulled down so that an undriven status reads not busy.
module cf_cable;
    wire [15:0] DD;
    wire [2:0]  DA;
    wire        CS0_n, CS1_n, DIOR_n, DIOW_n, DMACK_n, RESET_n;
    tri1        IORDY, DASP_n;
    tri0        DMARQ, INTRQ;
    wire        CSEL = 1'b0;  // grounded: the card is device 0
    pulldown (DD[7]);
endmodule

module tb;
    cf_cable cable();

    ata_host host(
        .ata_dd(cable.DD), .ata_da(cable.DA), .ata_cs0_n(cable.CS0_n), .ata_cs1_n(cable.CS1_n),
        .ata_dior_n(cable.DIOR_n), .ata_diow_n(cable.DIOW_n), .ata_dmack_n(cable.DMACK_n),
        .ata_reset_n(cable.RESET_n), .ata_iordy(cable.IORDY), .ata_dmarq(cable.DMARQ), .ata_intrq(cable.INTRQ));

    cf_card card(
        .tide_dd(cable.DD), .tide_da(cable.DA), .tide_cs0_n(cable.CS0_n), .tide_cs1_n(cable.CS1_n),
        .tide_dior_n(cable.DIOR_n), .tide_diow_n(cable.DIOW_n), .tide_dmack_n(cable.DMACK_n),
        .tide_iordy(cable.IORDY), .tide_dmarq(cable.DMARQ), .tide_intrq(cable.INTRQ), .tide_dasp_n(cable.DASP_n),
        .tide_reset_n(cable.RESET_n));

    string vcd_path, log_path;

    initial begin
        if (!$value$plusargs("vcd=%s", vcd_path)) vcd_path = "cf_testbench.vcd";
        if (!$value$plusargs("log=%s", log_path)) log_path = "cf_testbench.log";
        $dumpfile(vcd_path);
        $dumpvars(0, tb);
        host.open_log(log_path);

        host.hardware_reset();
        host.software_reset();
        host.identify_device();                    // PIO0
        host.set_transfer_mode(8'h46, 0);          // UDMA6: this card stops at UDMA5
        host.write_sectors(100, 2);
        host.set_transfer_mode(8'h0C, 1);          // PIO4
        host.read_sectors(100, 2);

        host.set_transfer_mode(8'h20, 1);          // MWDMA0
        host.read_dma(100, 1, -1, 0, -1);
        host.write_dma(150, 1, -1, 0, -1);
        host.set_transfer_mode(8'h22, 1);          // MWDMA2
        host.write_dma(200, 2, -1, 0, -1);
        host.read_dma(150, 2, -1, 0, -1);

        host.set_transfer_mode(8'h42, 1);          // UDMA2
        host.read_dma(200, 2, 100, 300, 300);      // host pause after word 100, host ends a burst at 300
        host.write_dma(300, 2, 60, 250, 400);      // host pause after word 60, host ends a burst at 400
        host.set_transfer_mode(8'h45, 1);          // UDMA5
        host.write_dma(400, 2, 333, 200, -1);
        host.read_dma(400, 2, 77, 150, 200);
        host.read_dma(300, 2, -1, 0, -1);
        host.read_sectors(400, 1);                 // PIO4 again

        host.close_log();
        $display("tb: %0d commands, %0d errors", host.cmd_no, host.errors);
        $finish;
    end

    initial begin
        #(50_000_000);
        $fatal(1, "tb: the script did not finish in 50 ms of bus time");
    end
endmodule
