! READ (u, *) a, b, c over records of three INTEGER(4) values; the sums go
! to the output file.
program ldi_int3
  implicit none
  character(len=256) :: path, arg, input
  integer :: n, i, u, v, a, b, c
  integer(8) :: sa, sb, sc
  call get_command_argument(1, path)
  call get_command_argument(2, arg)
  call get_command_argument(3, input)
  read (arg, *) n
  open (newunit=u, file=trim(input), status='old')
  sa = 0; sb = 0; sc = 0
  do i = 1, n / 2
    read (u, *) a, b, c
    sa = sa + a; sb = sb + b; sc = sc + c
  end do
  close (u)
  open (newunit=v, file=trim(path), status='replace')
  write (v, '(I0, 3(1X, I0))') n / 2, sa, sb, sc
  close (v)
end program
