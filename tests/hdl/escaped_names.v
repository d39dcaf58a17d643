// A few register cycles on a bus whose nets have Verilog escaped names, as
// a testbench written from a datasheet's pin list has them (\-CS0, \CS1#,
// \DD[15:0]), dumped by Icarus Verilog as it writes such names; the chip
// selects and strobes are also seen as the ports of an instance, and the
// dump is switched off for a while between cycles. run_escaped_names.sh
// decodes the dump with cfdecode.
`timescale 1ns / 1ns

module card_pins (input \-CS0 , input \CS1# , input \DIOR- , input \DIOW- );
endmodule

module escaped_names;
    reg \-CS0 = 1'b1, \CS1# = 1'b1, \DIOR- = 1'b1, \DIOW- = 1'b1;
    reg \IORDY = 1'b1, \DMARQ = 1'b0, \-DMACK = 1'b1;
    reg [2:0] \DA[2:0] = 3'd0;
    reg [15:0] \DD[15:0] = 16'hzzzz;
    reg [1023:0] vcd_path;

    card_pins card (.\-CS0 (\-CS0 ), .\CS1# (\CS1# ), .\DIOR- (\DIOR- ), .\DIOW- (\DIOW- ));

    // A PIO mode 0 register cycle: address and chip select, the strobe for
    // 70 ns with the data on the bus, then the bus released.
    task write_register(input [2:0] address, input [7:0] value);
        begin
            \DA[2:0] = address;
            \-CS0 = 1'b0;
            #20 \DD[15:0] = {8'h00, value};
            \DIOW- = 1'b0;
            #70 \DIOW- = 1'b1;
            #10 \-CS0 = 1'b1;
            \DD[15:0] = 16'hzzzz;
            #100;
        end
    endtask

    task read_register(input [2:0] address, input [7:0] value);
        begin
            \DA[2:0] = address;
            \-CS0 = 1'b0;
            #20 \DIOR- = 1'b0;
            #30 \DD[15:0] = {8'h00, value};
            #40 \DIOR- = 1'b1;
            #10 \-CS0 = 1'b1;
            \DD[15:0] = 16'hzzzz;
            #100;
        end
    endtask

    initial begin
        if (!$value$plusargs("vcd=%s", vcd_path)) vcd_path = "escaped_names.vcd";
        $dumpfile(vcd_path);
        $dumpvars(0, escaped_names);
        #100;
        write_register(3'd2, 8'h01);  // SECTOR COUNT
        write_register(3'd3, 8'h2a);  // SECTOR NUMBER
        $dumpoff;
        #1000;
        $dumpon;
        write_register(3'd6, 8'he0);  // CARD/HEAD: LBA, device 0
        read_register(3'd7, 8'h50);   // STATUS: DRDY DSC
        #100 $finish;
    end
endmodule
