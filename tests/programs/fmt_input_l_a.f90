! Logical and character input: L with .T./F words, A shorter and longer
! than the variable.
program fmt_input_l_a
  implicit none
  logical :: p, q, r
  character(len=4) :: s, t
  character(len=30) :: line
  line = ' .true. F  tx abcdefgh'
  read (line, '(l7, l2, l3, a6, a2)') p, q, r, s, t
  write (*, '(3l2, 1x, "[", a, "][", a, "]")') p, q, r, s, t
end program fmt_input_l_a
