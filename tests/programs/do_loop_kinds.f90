! DO loops over variables of every integer kind, with negative and large
! steps; the variable keeps its value after the loop.
program do_loop_kinds
  implicit none
  integer(1) :: a
  integer(2) :: b
  integer(4) :: c
  integer(8) :: d
  integer :: n
  n = 0
  do a = 120_1, 100_1, -7_1
    n = n + a
  end do
  write (*, '(2i6)') a, n
  do b = -3_2, 30000_2, 10000_2
    write (*, '(i7)', advance='no') b
  end do
  write (*, '(i7)') b
  do c = 10, 1, -3
    write (*, '(i4)', advance='no') c
  end do
  write (*, '(i4)') c
  do d = 4000000000_8, 4000000002_8
    write (*, '(i12)', advance='no') d
  end do
  write (*, '(i12)') d
end program do_loop_kinds
